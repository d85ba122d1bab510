#include "capture_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "base/text.h"
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
        if (!WaitReadable(socket, 50)) continue;
        size_t want = buffer.size();
        if (!paused && options_.PauseAfter >= 0) {
            want = std::min<size_t>(want, static_cast<size_t>(options_.PauseAfter - total));
        }
        const ssize_t got = ::recv(socket, buffer.data(), want, 0);
        if (got <= 0) break;
        Append(buffer.data(), static_cast<size_t>(got));
        total += got;
        if (options_.ResetAfter >= 0 && total >= options_.ResetAfter) {
            Reset(socket);
            break;
        }
        if (RequestComplete()) {
            // Bytes beyond the announced length would show up right behind it.
            while (WaitReadable(socket, kExtraBytesWaitMs)) {
                const ssize_t extra = ::recv(socket, buffer.data(), buffer.size(), 0);
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
            ::send(socket, answer.data(), first, MSG_NOSIGNAL);
            if (first < answer.size()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                ::send(socket, answer.data() + first, answer.size() - first, MSG_NOSIGNAL);
            }
            break;
        }
        std::this_thread::sleep_for(options_.ReadPause);
    }
    ::close(socket);
}
