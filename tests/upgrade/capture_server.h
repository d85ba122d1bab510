#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

// A listening socket on 127.0.0.1 that records every byte a client sends on one
// connection, so an upload can be checked byte for byte (including bytes beyond its
// Content-Length), and that can play a slow or stalled device; with TLS, it records the
// bytes inside.
class CaptureServer {
public:
    struct Options {
        // Sent once the request is complete (head and Content-Length body).
        std::string Answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nOK";
        // Sends the answer in two halves with a pause between, as separate segments.
        bool AnswerInTwoPieces = false;
        // SO_RCVBUF of the listening socket; 0 keeps the system's (large, growing) one.
        int ReceiveBuffer = 0;
        size_t ReadBytes = 65536;                // per read
        std::chrono::milliseconds ReadPause{0};  // after each read: a slow device
        // A stalled device stops reading after this many bytes, for PauseFor.
        int64_t PauseAfter = -1;
        std::chrono::milliseconds PauseFor = std::chrono::hours(1);
        // What the device does once the request is complete: answer, reset the
        // connection, or say nothing and hold the connection until the server goes.
        enum class End { Answer, Reset, Silence } AtEnd = End::Answer;
        // Resets the connection once this many bytes came (-1: never).
        int64_t ResetAfter = -1;
        // Speaks TLS with a self-signed certificate, as an HTTPS device does.
        bool Tls = false;
    };

    explicit CaptureServer(Options options);
    ~CaptureServer();
    CaptureServer(const CaptureServer&) = delete;
    CaptureServer& operator=(const CaptureServer&) = delete;

    int Port() const { return port_; }
    // Every byte received on the connection.
    std::string Received() const;

private:
    void Serve();
    void Append(const char* data, size_t count);
    bool RequestComplete() const;

    Options options_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::string received_;
    std::thread thread_;
};
