#include "event_log.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex& OutputLock() {
    static std::mutex lock;
    return lock;
}

void PrintLine(std::FILE* stream, const std::string& line) {
    std::lock_guard lock(OutputLock());
    std::fprintf(stream, "%s\n", line.c_str());
    std::fflush(stream);
}

}  // namespace

void PrintEvent(const std::string& line) { PrintLine(stdout, line); }

void PrintProblem(const std::string& line) { PrintLine(stderr, "devsim: " + line); }
