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
    // image first); -2 after that.
    std::chrono::milliseconds Answer{300000};
};

// The firmware form upload of the NVR family: a multipart POST to cgi_main.cgi, built
// by hand and sent over a plain TCP connection (whatever scheme `url` names; only its
// host and port count, port 80 when it has none). The image goes out in 2048-byte
// blocks; memory use does not grow with its size.
//
// `sizeOut` receives the image size before anything is sent and `sentOut` the image
// bytes sent after every block; another thread may read both at any time. An image
// kept in the firmware store is sent without the store's 4-byte size header; a file
// that starts with its image mark is sent whole.
//
// Results: 0 the device took the image; -12 the image cannot be read; -8 no
// connection (including a host that does not resolve); -13 the request head could not
// be sent; -2 the device stopped taking bytes or did not answer in time; -1 the image
// did not go out whole, the device reset the connection without an answer, or it
// answered with an HTTP error; -301 HTTP 401; -101 HTTP 404; -406 the answer holds
// "cfg_system_upgradeError" (the device rejected the image), whatever its status. A
// device that closes the connection without an answer has taken the image (0). -6
// when `stop` was requested before the device answered.
int UploadCgiMain(const std::string& user, const std::string& password, const std::string& url,
                  const std::string& imagePath, std::atomic<int64_t>& sizeOut,
                  std::atomic<int64_t>& sentOut, const CgiMainLimits& limits = {},
                  std::stop_token stop = {});
