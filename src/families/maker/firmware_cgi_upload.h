#pragma once

#include <stop_token>
#include <string>

// The last component of an image path: the text after the last '/' or '\', or the
// whole path when it has neither.
std::string ImageFileName(const std::string& path);

// The address of the firmwareupgrade request of the "PLX-420S" models, naming the
// image file in its query (escaped, so any file name stays one query value).
std::string FirmwareUpgradeUrl(const std::string& scheme, const std::string& host, int port,
                               const std::string& fileName);

// The firmware form upload of the "PLX-420S" models: a multipart POST (boundary
// "AsCg5y") of the image, whose part is named `fileName`: an image of the firmware
// store without its 4-byte size header, any other file (starting with its image mark)
// whole. The image is streamed from the file; memory use does not grow with its size.
// Basic credentials go with the first request, so the image crosses the wire once; a
// device that demands Digest gets it again, answering its challenge. HTTPS devices with
// self-signed or otherwise untrusted certificates are reached. The connection may take
// 600 s to open and the transfer may stand still for 600 s.
//
// `responseOut` receives the first 102400 bytes of a 200 answer. Results: 0 the device
// took the image; -406 the answer holds "cfg_system_upgradeError"; -101 HTTP 404;
// -301 HTTP 401; -1 any other status or failure (including an unreadable image);
// -2 time-out; -7 name not resolved; -8 no connection; -6 `stop` was requested.
int UploadFirmwareCgi(const std::string& user, const std::string& password, const std::string& url,
                      const std::string& imagePath, const std::string& fileName,
                      std::string& responseOut, std::stop_token stop = {});
