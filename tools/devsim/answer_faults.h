#pragma once

#include <httplib.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

// Faults that shape how a simulated device or the firmware server answers, shared by
// every HTTP endpoint of both:
//   http_status:CODE      every request is answered with CODE (for example 404, 500)
//   delay:MS              each answer waits MS before its head is sent
//   drop_mid_body[:N]     the connection is closed after N body bytes (default: half)
//   stall_mid_body[:MS]   the body stops for MS halfway (default 60000)
//   rate_limit:BPS        the body is sent at BPS bytes per second
//   endless_body          the body never ends: it repeats until the client goes away
struct AnswerFaults {
    int FixedStatus = 0;
    int DelayMs = 0;
    bool Drop = false;
    int64_t DropAfter = -1;  // -1: half the body
    int StallMs = 0;
    int64_t BytesPerSecond = 0;
    bool Endless = false;
};

// The fault names above, for KnownDeviceFaults()/KnownServerFaults().
const std::vector<std::string>& AnswerFaultNames();

// Reads the number value of fault `name`; false with a message unless it is a whole
// number of at least 0.
bool ParseFaultNumber(const std::string& name, const std::string& text, int64_t& out,
                      std::string& error);

// Reads the faults above from a fault map; false with a message for a bad value.
bool ReadAnswerFaults(const std::map<std::string, std::string>& faults, AnswerFaults& out,
                      std::string& error);

// Reads `max` bytes at `offset` into `out`; the count read (0 at the end or on error).
using BodyReader = std::function<size_t(int64_t offset, char* out, size_t max)>;

// Makes a server behave like an embedded device's: it neither applies Range requests
// nor compresses on its own (the handlers decide), and the fixed-status and delay
// faults act before any handler. Waits end early when `stopping` is set. While `away`
// (when given) says so, the device is restarting: a request that reaches it in the
// moment before its servers stop gets 503 and a closed connection.
void InstallAnswerFaults(httplib::Server& server, const AnswerFaults& faults,
                         const std::atomic<bool>& stopping, std::function<bool()> away = {});

// Sends `length` bytes from `reader`, starting at `offset`, as the body of `res`,
// shaped by the body faults.
void ServeBody(httplib::Response& res, BodyReader reader, int64_t offset, int64_t length,
               const std::string& contentType, const AnswerFaults& faults,
               const std::atomic<bool>& stopping);

// A body held in memory.
void ServeText(httplib::Response& res, const std::string& text, const std::string& contentType,
               const AnswerFaults& faults, const std::atomic<bool>& stopping);

// Waits `ms`, in short steps, or until `stopping` is set.
void WaitUnlessStopping(int64_t ms, const std::atomic<bool>& stopping);
