#pragma once

#include <string>

// What devsim tells the tests while it runs, one whole line at a time from any thread:
// events (an upload and its verdict, a reboot) on standard output, problems with what
// a client sent on standard error.
void PrintEvent(const std::string& line);
void PrintProblem(const std::string& line);
