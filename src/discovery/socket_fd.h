#pragma once

#include <sys/socket.h>
#include <unistd.h>

// A socket descriptor closed when the object goes.
class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

template <typename T>
bool SetSocketOption(int fd, int level, int name, const T& value) {
    return ::setsockopt(fd, level, name, &value, sizeof value) == 0;
}
