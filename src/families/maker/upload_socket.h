#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stop_token>
#include <string>

struct ssl_ctx_st;
struct ssl_st;
class ImageFile;

// The TCP connection of the hand-built firmware upload, plain or with TLS inside it.
// From the connection to the wait for the answer, what is sent leaves in full segments
// (TCP_CORK): the small parts of the form travel with the image bytes around them, and
// the last partial segment leaves as soon as the answer is awaited.
//
// Sends are watched for stalls, not limited in total: a slow device that keeps taking
// bytes may take as long as it needs, one that takes nothing for the stall limit ends
// the upload. Bytes count as moving while they enter the socket or while the socket's
// queue of unacknowledged bytes shrinks (the device is reading what it was sent). A
// stop request ends any wait within a tenth of a second.
class UploadSocket {
public:
    enum class Outcome { Done, Failed, Stalled, Stopped };

    explicit UploadSocket(std::chrono::milliseconds stallLimit, std::stop_token stop = {});
    ~UploadSocket();
    UploadSocket(const UploadSocket&) = delete;
    UploadSocket& operator=(const UploadSocket&) = delete;

    // Resolves `host` as IPv4 (the last address wins when several come back) and
    // connects within `connectLimit`, with `tls` then a TLS handshake within the same
    // limit (the device's own certificate accepted as it comes: devices carry
    // self-signed, expired or misnamed ones); false when any of it fails.
    bool Connect(const std::string& host, int port, std::chrono::milliseconds connectLimit,
                 bool tls = false);

    // Sends all `count` bytes.
    Outcome Send(const char* data, size_t count);

    // Sends `count` bytes of `file` from its read position, read and written in large
    // pieces, storing the running total in `sent` each time the connection takes part
    // of a piece. A file that ends before `count` bytes, or cannot be read, is Failed.
    Outcome SendFile(ImageFile& file, int64_t count, std::atomic<int64_t>& sent);

    // Receives the device's answer, at most `max` bytes: until the answer is complete
    // (its head and the body its Content-Length announces), the device closes the
    // connection, or no more bytes come for a second after the first ones. While the
    // device has not yet taken every byte sent, the stall limit applies (Stalled), and a
    // reset without a word is Failed (it threw away bytes it never took). Once it has
    // taken every byte, a reset or `answerLimit` of silence ends the wait with Done and
    // no answer: a device may restart without a word. An answer that ends early is
    // returned as far as it came.
    Outcome ReceiveAnswer(std::string& answer, size_t max, std::chrono::milliseconds answerLimit);

private:
    using TimePoint = std::chrono::steady_clock::time_point;

    bool Handshake(TimePoint deadline);
    // Writes all `count` bytes, calling `taken(n)` for each piece the connection took.
    template <typename TakenFn>
    Outcome WriteAll(const char* data, size_t count, TakenFn taken);
    // send/recv through TLS when it is on; errno as for send/recv (EAGAIN: wait for
    // waitEvents_).
    ssize_t Write(const char* data, size_t count);
    ssize_t Read(char* out, size_t max);
    // Whether the device has acknowledged every byte written to the connection.
    bool AllTaken() const;

    // Holds partial segments back (on) or sends them at once (off).
    void SetCork(bool on) const;
    // Waits up to `slice` for `events`; true when the socket is ready (or in error,
    // which the next call reports).
    bool WaitFor(short events, std::chrono::milliseconds slice) const;
    // Bytes sent but not yet acknowledged by the device; -1 when unknown.
    int64_t QueuedBytes() const;
    // Notes a change of the queue as movement; true when the stall limit has passed.
    bool StalledNow();

    int fd_ = -1;
    ssl_ctx_st* ctx_ = nullptr;
    ssl_st* ssl_ = nullptr;
    short waitEvents_ = 0;  // what TLS waits for after EAGAIN
    uint64_t written_ = 0;  // bytes written to the connection (plain)
    std::chrono::milliseconds stallLimit_;
    std::stop_token stop_;
    TimePoint lastMove_;
    int64_t lastQueued_ = -1;
};
