#pragma once

#include <httplib.h>

// Ends the connection a request came on without a word, as a device that restarts
// before it answers: its socket (found by the client's address and port) is shut down,
// so the answer httplib writes after the handler goes nowhere. False when no such
// socket is open.
bool CutConnection(const httplib::Request& req);
