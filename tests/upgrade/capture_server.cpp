#include "capture_server.h"

#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "base/text.h"
#include "self_signed_cert.h"
#include "support/web_test_support.h"

namespace {

// After a complete request, how long extra bytes may take to show up.
constexpr int kExtraBytesWaitMs = 100;

bool WaitReadable(int socket, int ms) {
    pollfd p{socket, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

// Closes with a reset instead of an orderly end.
void Reset(int socket) {
    const linger abort{1, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
}

// The accepted connection, plain or with TLS.
class Connection {
public:
    explicit Connection(int socket) : socket_(socket) {}
    ~Connection() {
        if (ssl_) SSL_free(ssl_);
        if (ctx_) SSL_CTX_free(ctx_);
        ::close(socket_);
    }

    int Socket() const { return socket_; }

    // The server's side of the handshake; false when it fails.
    bool AcceptTls() {
        std::string error;
        const auto cert = SelfSignedCert::Make("127.0.0.1", error);
        ctx_ = SSL_CTX_new(TLS_server_method());
        if (!cert || !ctx_ || SSL_CTX_use_certificate(ctx_, cert->Cert()) != 1 ||
            SSL_CTX_use_PrivateKey(ctx_, cert->Key()) != 1) {
            return false;
        }
        ssl_ = SSL_new(ctx_);
        return ssl_ && SSL_set_fd(ssl_, socket_) == 1 && SSL_accept(ssl_) == 1;
    }

    bool Readable(int ms) const {
        return (ssl_ && SSL_pending(ssl_) > 0) || WaitReadable(socket_, ms);
    }

    ssize_t Receive(char* out, size_t max) {
        if (!ssl_) return ::recv(socket_, out, max, 0);
        return SSL_read(ssl_, out, static_cast<int>(max));
    }

    void Send(const char* data, size_t count) {
        if (!ssl_) {
            ::send(socket_, data, count, MSG_NOSIGNAL);
        } else {
            SSL_write(ssl_, data, static_cast<int>(count));
        }
    }

private:
    int socket_;
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
};

}  // namespace

CaptureServer::CaptureServer(Options options) : options_(std::move(options)) {
    listener_ = ListenOnLoopback(port_, options_.ReceiveBuffer);
    thread_ = std::thread([this] { Serve(); });
}

CaptureServer::~CaptureServer() {
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

std::string CaptureServer::Received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

void CaptureServer::Append(const char* data, size_t count) {
    std::lock_guard lock(mutex_);
    received_.append(data, count);
}

bool CaptureServer::RequestComplete() const {
    std::lock_guard lock(mutex_);
    const size_t headEnd = received_.find("\r\n\r\n");
    if (headEnd == std::string::npos) return false;
    std::string length;
    ValueAfterMarker(ToLowerAscii(received_.substr(0, headEnd + 2)), "\r\ncontent-length:", length);
    return received_.size() >= headEnd + 4 + static_cast<size_t>(ParseDecimal(length));
}

void CaptureServer::Serve() {
    int socket = -1;
    while (!stopping_ && socket < 0) {
        if (WaitReadable(listener_, 50)) socket = ::accept(listener_, nullptr, nullptr);
    }
    if (socket < 0) return;
    Connection connection(socket);
    // A blocking read inside TLS must not hold the server past the test.
    const timeval limit{5, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    if (options_.Tls && !connection.AcceptTls()) return;
    std::vector<char> buffer(options_.ReadBytes);
    int64_t total = 0;
    bool paused = false;
    while (!stopping_) {
        if (!paused && options_.PauseAfter >= 0 && total >= options_.PauseAfter) {
            paused = true;
            const auto until = std::chrono::steady_clock::now() + options_.PauseFor;
            while (!stopping_ && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        if (!connection.Readable(50)) continue;
        size_t want = buffer.size();
        if (!paused && options_.PauseAfter >= 0) {
            want = std::min<size_t>(want, static_cast<size_t>(options_.PauseAfter - total));
        }
        const ssize_t got = connection.Receive(buffer.data(), want);
        if (got <= 0) break;
        Append(buffer.data(), static_cast<size_t>(got));
        total += got;
        if (options_.ResetAfter >= 0 && total >= options_.ResetAfter) {
            Reset(socket);
            break;
        }
        if (RequestComplete()) {
            // Bytes beyond the announced length would show up right behind it.
            while (connection.Readable(kExtraBytesWaitMs)) {
                const ssize_t extra = connection.Receive(buffer.data(), buffer.size());
                if (extra <= 0) break;
                Append(buffer.data(), static_cast<size_t>(extra));
            }
            if (options_.AtEnd == Options::End::Reset) Reset(socket);
            while (options_.AtEnd == Options::End::Silence && !stopping_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            if (options_.AtEnd != Options::End::Answer) break;
            const std::string& answer = options_.Answer;
            const size_t first = options_.AnswerInTwoPieces ? answer.size() / 2 : answer.size();
            connection.Send(answer.data(), first);
            if (first < answer.size()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                connection.Send(answer.data() + first, answer.size() - first);
            }
            break;
        }
        std::this_thread::sleep_for(options_.ReadPause);
    }
}
