#pragma once

#include <atomic>
#include <cstdint>
#include <stop_token>
#include <string>

// Sends a firmware image to the upload address an ONVIF camera handed out
// (StartFirmwareUpgrade): one HTTP POST of the image's bytes as
// application/octet-stream. A file kept by the firmware store goes without its size
// header. The image goes without credentials first: many cameras take it at the
// one-time address without a log-in, and libcurl, told to use Digest before a challenge,
// would send them an empty body. Only a 401 that offers Digest gets a second POST with
// the camera's credentials, the image again from its start. `size` is set before
// anything is sent and `sent` follows the bytes handed to the connection, for the
// progress shown meanwhile.
//
// 0 when the camera took the image (200, 202 or 204), and also when, after every byte
// was sent, the connection closed or was reset without any answer, or stayed silent for
// `stallMs`: many cameras restart before they answer, and the version after the return
// decides. -406 for 415 (it does not take this file); -702 for 500 (it failed to
// install it); -304 for 401 or 403; -101 for 404; -1 for any other status or a transfer
// cut before the last byte; -12 when the file cannot be read; -2 when no byte moves for
// `stallMs` before the last one; -8 when no connection is made; -6 when stopped.
int UploadOnvifImage(const std::string& uploadUri, const std::string& path, const std::string& user,
                     const std::string& password, int stallMs, std::atomic<int64_t>& size,
                     std::atomic<int64_t>& sent, std::stop_token stop);
