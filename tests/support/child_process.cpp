#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int MillisLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int rc = ::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    out_ = pipeFds[0];
    if (rc != 0) {
        ::close(out_);
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    }
}

ChildProcess::~ChildProcess() {
    if (!status_) {
        ::kill(pid_, SIGKILL);
        int status;
        ::waitpid(pid_, &status, 0);
    }
    ::close(out_);
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        if (size_t nl = pending_.find('\n'); nl != std::string::npos) {
            std::string line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return line;
        }
        if (eof_) {
            if (pending_.empty()) return std::nullopt;
            return std::exchange(pending_, std::string());
        }
        pollfd p{out_, POLLIN, 0};
        int ready = ::poll(&p, 1, MillisLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        char buf[4096];
        ssize_t n = ::read(out_, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            eof_ = true;
        } else {
            pending_.append(buf, static_cast<size_t>(n));
        }
    }
}

std::string ChildProcess::ReadRest(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    std::string all;
    while (auto line = ReadLine(std::chrono::milliseconds(MillisLeft(deadline)))) {
        all += *line + "\n";
    }
    return all;
}

void ChildProcess::Signal(int signal) {
    if (!status_) ::kill(pid_, signal);
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (!status_) {
        int status = 0;
        pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    ChildProcess child(argv);
    ProcessResult result;
    result.Output = child.ReadRest(timeout);
    auto code = child.Wait(std::chrono::milliseconds(MillisLeft(deadline)));
    result.ExitCode = code ? *code : -1;
    return result;
}

ProcessResult RunOnTerminal(const std::vector<std::string>& argv,
                            const std::vector<std::string>& env, std::chrono::milliseconds timeout,
                            unsigned short columns) {
    winsize size{};
    size.ws_row = 40;
    size.ws_col = columns;
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
        for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) continue;
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) break;  // EIO once the child has gone
        result.Output.append(buffer, static_cast<size_t>(n));
    }
    // The terminal closes a moment before the process is gone.
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 250 && (ended = ::waitpid(pid, &status, WNOHANG)) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (ended == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    } else if (WIFEXITED(status)) {
        result.ExitCode = WEXITSTATUS(status);
    }
    ::close(master);
    return result;
}
