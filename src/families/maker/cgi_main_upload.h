#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <stop_token>
#include <string>

// Time limits of the cgi_main upload. The exchange itself never limits a transfer that
// moves; these only end one that does not.
struct CgiMainLimits {
    std::chrono::milliseconds Connect{10000};
    // No byte taken by the device for this long ends the upload with -2.
    std::chrono::milliseconds Stall{60000};
    // How long a device that holds the whole image may take to answer (it checks the
    // image first); then the upload ends without an answer.
    std::chrono::milliseconds Answer{300000};
};

// The firmware form upload of the NVR family: a multipart POST to cgi_main.cgi, built
// by hand and sent over a TCP connection to the host and port of `url` (port 80, or 443
// for https, when it names none), with TLS inside it when `url`'s scheme is https (the
// same bytes inside). The image is read and written a quarter MiB at a time; memory
// use does not grow with its size.
//
// `sizeOut` receives the image size before anything is sent and `sentOut` the image
// bytes the connection has taken, after every write; another thread may read both at
// any time. An image kept in the firmware store is sent without the store's 4-byte size
// header; a file that starts with its image mark is sent whole.
//
// Results: 0 the device took every byte and did not refuse them; -12 the image cannot
// be read; -8 no connection (including a host that does not resolve, or a failed TLS
// handshake); -13 the request head could not be sent; -2 the device stopped taking
// bytes; -1 the image did not go out whole, the device reset the connection before it
// had taken every byte, or it answered with an HTTP error; -301 HTTP 401; -101 HTTP 404;
// -406 the answer holds "cfg_system_upgradeError" (the device rejected the image),
// whatever its status. A device that took every byte and then closes, resets or stays
// silent for the answer limit gives 0 with no answer: it may have restarted at once, and
// whether it took the image is for the wait for its return to tell. -6 when `stop` was
// requested before the device answered.
int UploadCgiMain(const std::string& user, const std::string& password, const std::string& url,
                  const std::string& imagePath, std::atomic<int64_t>& sizeOut,
                  std::atomic<int64_t>& sentOut, const CgiMainLimits& limits = {},
                  std::stop_token stop = {});
