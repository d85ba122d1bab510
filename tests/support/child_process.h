#pragma once

#include <sys/types.h>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

// A program started by a test: its standard output is read line by line, its standard
// error goes to the test's own. Killed (SIGKILL) and reaped when the object goes, so a
// failing test never leaves a process behind.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }

    // The next line of standard output without its line end; nothing at end of output
    // or when `timeout` passes first.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);

    // Everything still to come on standard output, until it closes or `timeout` passes.
    std::string ReadRest(std::chrono::milliseconds timeout);

    void Signal(int signal);

    // Waits for the exit; the exit code, 128 + signal number when killed, or nothing
    // when `timeout` passes first.
    std::optional<int> Wait(std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
    bool eof_ = false;
    std::optional<int> status_;
};

struct ProcessResult {
    int ExitCode = -1;  // -1 when it did not end in time (it is then killed)
    std::string Output;
};

// Runs a program to its end, at most `timeout`.
ProcessResult RunProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout);

// Runs `argv` on the terminal side of a new pseudo-terminal `columns` wide, with `env`
// ("NAME=value") added to its environment, at most `timeout`; everything it wrote to the
// terminal, once it has ended.
ProcessResult RunOnTerminal(const std::vector<std::string>& argv,
                            const std::vector<std::string>& env, std::chrono::milliseconds timeout,
                            unsigned short columns = 100);
