// The firmware upload endpoints of a device: the NVR family's cgi_main.cgi form, the
// "PLX-420S" models' beforeupgrade.cgi and firmwareupgrade.cgi. Uploads are read as
// they arrive and never held; after an accepted image the device restarts.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <functional>
#include <thread>

#include "device_http.h"
#include "event_log.h"
#include "multipart_stream.h"

namespace {

using httplib::ContentReader;
using httplib::Request;
using httplib::Response;

constexpr const char* kRejectedPage =
    "<html><head><meta http-equiv=\"refresh\" content=\"0;url=/cfg_system_upgradeError.htm\">"
    "</head></html>";
constexpr const char* kAcceptedPage =
    "<html><body>Firmware received. The device restarts now.</body></html>";
constexpr int64_t kStallForeverMs = 24LL * 3600 * 1000;

bool HasImageMark(const std::string& start) {
    static const char* const marks[] = {"QRBA", "QRBE", "QRBI", "QRBO", "QRBU"};
    return std::any_of(std::begin(marks), std::end(marks),
                       [&](const char* mark) { return start.compare(0, 4, mark) == 0; });
}

// The "version=TEXT" tag right after the image mark; empty when there is none.
std::string VersionTag(const std::string& start) {
    const std::string tag = "version=";
    if (start.size() < 4 || start.compare(4, tag.size(), tag) != 0) return {};
    std::string version;
    for (size_t i = 4 + tag.size(); i < start.size(); ++i) {
        const char c = start[i];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') {
            break;
        }
        version += c;
    }
    return version;
}

bool ParseCount(const std::string& text, int64_t& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && out >= 0;
}

// What one upload request brought and what the device made of it.
struct Upload {
    std::string Path;
    int64_t ContentLength = -1;
    int64_t Received = 0;
    std::string Mark;
    std::string Version;
    std::string Verdict;
    int64_t ImageBytes = 0;
};

// The first bytes of an image as one word of a log line.
std::string Printable(const std::string& bytes) {
    std::string word;
    for (char c : bytes) word += std::isgraph(static_cast<unsigned char>(c)) ? c : '?';
    return word;
}

void LogUpload(const DeviceEndpoints& e, const Upload& u) {
    PrintEvent("upload device=" + e.Device.Config().Id + " path=" + u.Path + " content_length=" +
               std::to_string(u.ContentLength) + " received=" + std::to_string(u.Received) +
               " image=" + std::to_string(u.ImageBytes) +
               " mark=" + (u.Mark.empty() ? "-" : Printable(u.Mark)) +
               " version=" + (u.Version.empty() ? "-" : u.Version) + " verdict=" + u.Verdict);
}

// Nothing more is read from this connection: the answer closes it.
void CloseAfter(Response& res) { res.set_header("Connection", "close"); }

void Malformed(const DeviceEndpoints& e, Upload& u, Response& res, const std::string& problem) {
    PrintProblem("device " + e.Device.Config().Id + ": malformed upload to " + u.Path + ": " +
                 problem);
    u.Verdict = "malformed";
    res.status = 400;
    res.set_content("<html><body>400 Bad Request: " + problem + "</body></html>", "text/html");
    CloseAfter(res);
}

// Reads the body into `parts`, shaped by the upload faults. False when the body did
// not arrive whole (the fault that stopped it, or the reason, is in u.Verdict / problem).
bool ReceiveBody(const DeviceEndpoints& e, const ContentReader& reader, MultipartStream& parts,
                 Upload& u, std::string& problem) {
    const UploadFaults& f = e.Uploads;
    const int64_t half = u.ContentLength / 2;
    const int64_t dropAt = f.DropAfter >= 0 ? f.DropAfter : f.Drop ? half : -1;
    const int64_t stallAt = f.StallMs > 0 ? half : -1;
    bool stalled = false;
    bool dropped = false;
    const bool read = reader([&](const char* data, size_t count) {
        const auto n = static_cast<int64_t>(count);
        if (dropAt >= 0 && u.Received + n > dropAt) {
            dropped = true;
            return false;
        }
        if (stallAt >= 0 && !stalled && u.Received + n > stallAt) {
            stalled = true;
            WaitUnlessStopping(f.StallMs, e.Stopping);
        }
        if (e.Stopping) return false;
        u.Received += n;
        if (!parts.Feed(data, count)) return false;
        if (f.BytesPerSecond > 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(n * 1000000 / f.BytesPerSecond));
        }
        return true;
    });
    if (dropped) {
        u.Verdict = "dropped";
        return false;
    }
    if (!parts.Problem().empty()) {
        problem = parts.Problem();
    } else if (!read || u.Received != u.ContentLength) {
        problem = "the body ended after " + std::to_string(u.Received) + " of its Content-Length " +
                  std::to_string(u.ContentLength) + " bytes";
    } else if (!parts.Finish()) {
        problem = parts.Problem();
    }
    return problem.empty();
}

// The checks every upload passes before its body is read: credentials, a multipart
// body of announced length with the expected boundary. False with `res` set.
bool CheckRequest(const DeviceEndpoints& e, const Request& req, Response& res, Upload& u,
                  std::string& boundary) {
    if (!e.Authorized(req, res)) {
        u.Verdict = "refused";
        CloseAfter(res);
        return false;
    }
    if (req.has_header("Transfer-Encoding")) {
        Malformed(e, u, res, "chunked body; the device needs a Content-Length");
        return false;
    }
    if (!ParseCount(req.get_header_value("Content-Length"), u.ContentLength)) {
        Malformed(e, u, res, "no valid Content-Length");
        return false;
    }
    boundary = MultipartBoundary(req.get_header_value("Content-Type"));
    if (boundary.empty()) {
        Malformed(e, u, res, "Content-Type is not multipart/form-data with a boundary");
        return false;
    }
    // httplib hands a multipart body only to its own parser, which is lenient where a
    // device is not. Without the header it hands over the raw bytes, which we parse.
    const_cast<Request&>(req).headers.erase("Content-Type");
    return true;
}

// The device's verdict on a well-formed upload whose image part is `image`.
void Judge(DeviceEndpoints& e, Response& res, Upload& u, const MultipartStream::Part& image) {
    u.ImageBytes = image.Size;
    u.Mark = image.Start.substr(0, std::min<size_t>(4, image.Start.size()));
    if (!HasImageMark(image.Start) || e.Device.HasFault("reject_image")) {
        u.Verdict = "rejected";
        res.status = 200;
        res.set_content(kRejectedPage, "text/html");
        return;
    }
    u.Version = VersionTag(image.Start);
    if (u.Version.empty()) u.Version = e.Device.Config().NextFirmware;
    u.Verdict = "accepted";
    res.status = 200;
    res.set_content(kAcceptedPage, "text/html");
}

// Logs the upload; an accepted image restarts the device (after the log line, so the
// events come in order).
void Finish(DeviceEndpoints& e, const Upload& u) {
    LogUpload(e, u);
    if (u.Verdict == "accepted") e.Reboot.Request(u.Version);
}

// Which part of a well-formed body holds the image; null, with `problem` set, when the
// parts are not the form the endpoint expects.
using ImagePart = std::function<const MultipartStream::Part*(
    const std::vector<MultipartStream::Part>& parts, std::string& problem)>;

// One upload: the request's checks, its body read as it arrives, the form's parts,
// then the device's verdict on the image.
void ReadUpload(DeviceEndpoints& e, const Request& req, Response& res, const ContentReader& reader,
                const ImagePart& imagePart) {
    Upload u;
    u.Path = req.path;
    std::string boundary;
    std::string problem;
    if (CheckRequest(e, req, res, u, boundary)) {
        // Marks the start of the body, so that a test can tell how many run at once.
        PrintEvent("upload-start device=" + e.Device.Config().Id + " path=" + u.Path);
        MultipartStream parts(boundary);
        if (ReceiveBody(e, reader, parts, u, problem)) {
            if (const MultipartStream::Part* image = imagePart(parts.Parts(), problem)) {
                Judge(e, res, u, *image);
            }
        }
        if (!problem.empty()) Malformed(e, u, res, problem);
        if (u.Verdict == "dropped") CloseAfter(res);
    } else if (u.Verdict == "refused") {
        // Read the body the client is still sending before closing: closing on unread
        // bytes resets the connection, and the client may lose the 401 already sent.
        // (Without Content-Type, httplib hands over raw bytes rather than parsing parts.)
        const_cast<Request&>(req).headers.erase("Content-Type");
        reader([&e](const char*, size_t) { return !e.Stopping; });
    }
    Finish(e, u);
}

// The NVR family's form: a file part (the image) and the part cgiName=upgrade.cgi.
const MultipartStream::Part* CgiMainImage(const std::vector<MultipartStream::Part>& p,
                                          std::string& problem) {
    if (p.size() != 2 || p[0].Name != "file" || !p[0].HasFileName) {
        problem = "expected a file part named \"file\", then cgiName";
    } else if (p[1].Name != "cgiName" || p[1].Start != "upgrade.cgi") {
        problem = "the last part is not cgiName=upgrade.cgi";
    } else {
        return &p[0];
    }
    return nullptr;
}

// The "PLX-420S" form: one file part named, as its file name, after the query.
const MultipartStream::Part* FirmwareUpgradeImage(const std::string& fileName,
                                                  const std::vector<MultipartStream::Part>& p,
                                                  std::string& problem) {
    if (fileName.empty()) {
        problem = "no filename in the query";
    } else if (p.size() != 1 || p[0].Name != fileName || p[0].FileName != fileName) {
        problem = "expected one part named after the query's filename " + fileName;
    } else {
        return &p[0];
    }
    return nullptr;
}

void BeforeUpgrade(DeviceEndpoints& e, const Request& req, Response& res) {
    if (!e.Authorized(req, res)) return;
    PrintEvent("prepare device=" + e.Device.Config().Id);
    res.status = 200;
    res.set_content("OK\n", "text/plain");
}

}  // namespace

const std::vector<std::string>& DeviceUpgradeFaultNames() {
    // reject_image: every image is answered with "cfg_system_upgradeError".
    // drop_mid_upload[:N]: the device stops reading after N body bytes (default half)
    //   and closes the connection (httplib still writes a bare 400 first).
    // stall_mid_upload[:MS]: the device stops reading halfway for MS (default: until
    //   devsim stops).
    // slow_upload:BPS: the device reads uploads at BPS bytes per second.
    static const std::vector<std::string> names = {"reject_image", "drop_mid_upload",
                                                   "stall_mid_upload", "slow_upload"};
    return names;
}

bool ReadUploadFaults(const std::map<std::string, std::string>& faults, UploadFaults& out,
                      std::string& error) {
    out = UploadFaults();
    for (const auto& [name, value] : faults) {
        int64_t number = 0;
        const bool given = !value.empty();
        const bool numbered = name == "slow_upload" ||
                              (given && (name == "drop_mid_upload" || name == "stall_mid_upload"));
        if (numbered && !ParseFaultNumber(name, value, number, error)) return false;
        if (name == "drop_mid_upload") {
            out.Drop = true;
            out.DropAfter = given ? number : -1;
        } else if (name == "stall_mid_upload") {
            out.StallMs = given ? number : kStallForeverMs;
        } else if (name == "slow_upload") {
            if (number == 0) {
                error = "fault 'slow_upload' needs a positive rate";
                return false;
            }
            out.BytesPerSecond = number;
        } else if (name == "reboot_address" && value.empty()) {
            error = "fault 'reboot_address' needs an address";
            return false;
        }
    }
    return true;
}

void InstallDeviceUpgrade(httplib::Server& server, DeviceEndpoints& endpoints) {
    DeviceEndpoints* e = &endpoints;
    server.Post("/cgi-bin/cgi_main.cgi",
                [e](const Request& req, Response& res, const ContentReader& reader) {
                    ReadUpload(*e, req, res, reader, CgiMainImage);
                });
    server.Post("/cgi-bin/admin/firmwareupgrade.cgi",
                [e](const Request& req, Response& res, const ContentReader& reader) {
                    const std::string fileName = req.get_param_value("filename");
                    ReadUpload(*e, req, res, reader, [&](const auto& parts, std::string& problem) {
                        return FirmwareUpgradeImage(fileName, parts, problem);
                    });
                });
    auto before = [e](const Request& req, Response& res) { BeforeUpgrade(*e, req, res); };
    server.Get("/cgi-bin/admin/beforeupgrade.cgi", before);
    server.Post("/cgi-bin/admin/beforeupgrade.cgi", before);
}
