#include "families/maker/upload_socket.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "base/text.h"
#include "families/maker/upload_answer.h"
#include "pipeline/image_file.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// How often a blocked wait looks at the send queue and the clocks.
constexpr milliseconds kPollSlice(100);
// After the first bytes of an answer, how long to wait for the rest.
constexpr milliseconds kAnswerGap(1000);
// The piece of the image read, then written, at a time. Writing 2 KiB blocks took half
// a million system calls per GiB and three times the CPU of these pieces; TLS cuts a
// piece into 16 KiB records in any case.
constexpr size_t kReadBytes = 256 * 1024;

}  // namespace

bool AnswerComplete(const std::string& text) {
    const size_t headEnd = text.find("\r\n\r\n");
    if (headEnd == std::string::npos) return false;
    std::string length;
    if (!ValueAfterMarker(ToLowerAscii(text.substr(0, headEnd + 2)),
                          "\r\ncontent-length:", length)) {
        return false;
    }
    return text.size() - (headEnd + 4) >=
           static_cast<size_t>(std::max<int64_t>(0, ParseDecimal(length)));
}

UploadSocket::UploadSocket(milliseconds stallLimit, std::stop_token stop)
    : stallLimit_(stallLimit), stop_(std::move(stop)), lastMove_(steady_clock::now()) {}

UploadSocket::~UploadSocket() {
    if (ssl_) SSL_free(ssl_);
    if (ctx_) SSL_CTX_free(ctx_);
    if (fd_ >= 0) ::close(fd_);
}

bool UploadSocket::Connect(const std::string& host, int port, milliseconds connectLimit, bool tls) {
    const auto deadline = steady_clock::now() + connectLimit;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
    sockaddr_in address{};
    for (addrinfo* a = found; a; a = a->ai_next) {
        address = *reinterpret_cast<const sockaddr_in*>(a->ai_addr);
    }
    ::freeaddrinfo(found);
    address.sin_port = htons(static_cast<uint16_t>(port));

    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        if (errno != EINPROGRESS) return false;
        while (!WaitFor(POLLOUT, kPollSlice)) {
            if (steady_clock::now() >= deadline || stop_.stop_requested()) return false;
        }
        int error = 0;
        socklen_t length = sizeof(error);
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            return false;
        }
    }
    if (tls && !Handshake(deadline)) return false;
    SetCork(true);
    lastMove_ = steady_clock::now();
    lastQueued_ = QueuedBytes();
    return true;
}

bool UploadSocket::Handshake(TimePoint deadline) {
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_) return false;
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
    ssl_ = SSL_new(ctx_);
    if (!ssl_ || SSL_set_fd(ssl_, fd_) != 1) return false;
    SSL_set_mode(ssl_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    for (;;) {
        const int done = SSL_connect(ssl_);
        if (done == 1) return true;
        const int error = SSL_get_error(ssl_, done);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) return false;
        WaitFor(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, kPollSlice);
        if (steady_clock::now() >= deadline || stop_.stop_requested()) return false;
    }
}

ssize_t UploadSocket::Write(const char* data, size_t count) {
    waitEvents_ = POLLOUT;
    if (!ssl_) {
        const ssize_t sent = ::send(fd_, data, count, MSG_NOSIGNAL);
        if (sent > 0) written_ += static_cast<uint64_t>(sent);
        return sent;
    }
    const int sent = SSL_write(ssl_, data, static_cast<int>(std::min<size_t>(count, 1 << 20)));
    if (sent > 0) return sent;
    const int error = SSL_get_error(ssl_, sent);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        waitEvents_ = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
        errno = EAGAIN;
    } else {
        errno = ECONNRESET;
    }
    return -1;
}

ssize_t UploadSocket::Read(char* out, size_t max) {
    waitEvents_ = POLLIN;
    if (!ssl_) return ::recv(fd_, out, max, 0);
    const int got = SSL_read(ssl_, out, static_cast<int>(max));
    if (got > 0) return got;
    const int error = SSL_get_error(ssl_, got);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        waitEvents_ = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
        errno = EAGAIN;
        return -1;
    }
    // Closed, with or without TLS's own closing message.
    if (error == SSL_ERROR_ZERO_RETURN || (error == SSL_ERROR_SYSCALL && errno == 0)) return 0;
    errno = ECONNRESET;
    return -1;
}

bool UploadSocket::AllTaken() const {
    tcp_info info{};
    socklen_t length = sizeof(info);
    if (::getsockopt(fd_, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return false;
    const uint64_t written =
        ssl_ ? static_cast<uint64_t>(BIO_number_written(SSL_get_wbio(ssl_))) : written_;
    return info.tcpi_bytes_acked >= written;
}

template <typename TakenFn>
UploadSocket::Outcome UploadSocket::WriteAll(const char* data, size_t count, TakenFn taken) {
    while (count > 0) {
        if (stop_.stop_requested()) return Outcome::Stopped;
        const ssize_t sent = Write(data, count);
        if (sent > 0) {
            data += sent;
            count -= static_cast<size_t>(sent);
            lastMove_ = steady_clock::now();
            taken(static_cast<size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(waitEvents_, kPollSlice) && StalledNow()) return Outcome::Stalled;
            continue;
        }
        return Outcome::Failed;
    }
    return Outcome::Done;
}

UploadSocket::Outcome UploadSocket::Send(const char* data, size_t count) {
    return WriteAll(data, count, [](size_t) {});
}

UploadSocket::Outcome UploadSocket::SendFile(ImageFile& file, int64_t count,
                                             std::atomic<int64_t>& sent) {
    // One piece per upload, whatever the image's size.
    const auto buffer = std::make_unique_for_overwrite<char[]>(kReadBytes);
    int64_t total = 0;
    sent = 0;
    while (total < count) {
        const int64_t got = file.Read(
            buffer.get(),
            static_cast<size_t>(std::min(static_cast<int64_t>(kReadBytes), count - total)));
        if (got <= 0) return Outcome::Failed;
        const Outcome outcome = WriteAll(buffer.get(), static_cast<size_t>(got), [&](size_t n) {
            total += static_cast<int64_t>(n);
            sent = total;
        });
        if (outcome != Outcome::Done) return outcome;
    }
    return Outcome::Done;
}

UploadSocket::Outcome UploadSocket::ReceiveAnswer(std::string& answer, size_t max,
                                                  milliseconds answerLimit) {
    answer.clear();
    // Everything is written: the last partial segment goes now, not after the device's
    // delayed acknowledgement of the one before it.
    SetCork(false);
    waitEvents_ = POLLIN;
    TimePoint drainedAt{};  // when the device had taken every byte sent
    TimePoint lastByte{};
    char buffer[2048];
    while (answer.size() < max) {
        if (stop_.stop_requested()) return Outcome::Stopped;
        // TLS may hold bytes it has already read off the connection.
        const bool buffered = ssl_ && SSL_pending(ssl_) > 0;
        if (buffered || WaitFor(waitEvents_, kPollSlice)) {
            const ssize_t got = Read(buffer, std::min(sizeof(buffer), max - answer.size()));
            if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
            if (got == 0) break;  // closed: the answer is what came
            // A reset with nothing said: a failure while bytes the device never took were
            // thrown away; after it took them all, a restart.
            if (got < 0) return answer.empty() && !AllTaken() ? Outcome::Failed : Outcome::Done;
            answer.append(buffer, static_cast<size_t>(got));
            lastByte = steady_clock::now();
            if (AnswerComplete(answer)) break;
            continue;
        }
        const TimePoint now = steady_clock::now();
        if (!answer.empty()) {
            if (now - lastByte >= kAnswerGap) break;
            continue;
        }
        const int64_t queued = QueuedBytes();
        if (queued != 0) {
            if (StalledNow()) return Outcome::Stalled;
            drainedAt = {};
            continue;
        }
        if (drainedAt == TimePoint{}) drainedAt = now;
        // Silent after taking everything: no answer to judge.
        if (now - drainedAt >= answerLimit) return Outcome::Done;
    }
    return Outcome::Done;
}

void UploadSocket::SetCork(bool on) const {
    const int value = on ? 1 : 0;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_CORK, &value, sizeof(value));
}

bool UploadSocket::WaitFor(short events, milliseconds slice) const {
    pollfd p{fd_, events, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(slice.count()));
    return ready > 0;
}

int64_t UploadSocket::QueuedBytes() const {
    int queued = 0;
    if (::ioctl(fd_, SIOCOUTQ, &queued) != 0) return -1;
    return queued;
}

bool UploadSocket::StalledNow() {
    const int64_t queued = QueuedBytes();
    const TimePoint now = steady_clock::now();
    if (queued != lastQueued_) {
        lastQueued_ = queued;
        lastMove_ = now;
        return false;
    }
    return now - lastMove_ >= stallLimit_;
}
