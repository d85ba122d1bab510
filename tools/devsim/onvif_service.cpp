#include "onvif_service.h"

#include <openssl/rand.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <pugixml.hpp>

#include "connection_cut.h"
#include "device_http.h"
#include "event_log.h"
#include "onvif_names.h"

namespace {

using httplib::ContentReader;
using httplib::Request;
using httplib::Response;

constexpr const char* kSoapNs = onvif_ns::kSoap;
constexpr const char* kDeviceNs = onvif_ns::kDevice;
constexpr const char* kSoapType = "application/soap+xml; charset=utf-8";
constexpr const char* kServicePath = "/onvif/device_service";
constexpr const char* kUploadPrefix = "/onvif/firmware/";
constexpr size_t kMarkBytesKept = 64;

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Envelope(const std::string& body) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><s:Envelope xmlns:s=\"") +
           kSoapNs + "\" xmlns:tds=\"" + kDeviceNs +
           "\" xmlns:tt=\"http://www.onvif.org/ver10/schema\" "
           "xmlns:ter=\"http://www.onvif.org/ver10/error\"><s:Body>" +
           body + "</s:Body></s:Envelope>";
}

void Fault(Response& res, int status, const std::string& code, const std::string& subcode,
           const std::string& reason) {
    res.status = status;
    res.set_content(
        Envelope("<s:Fault><s:Code><s:Value>" + code + "</s:Value><s:Subcode><s:Value>" + subcode +
                 "</s:Value></s:Subcode></s:Code><s:Reason><s:Text xml:lang=\"en\">" +
                 Escaped(reason) + "</s:Text></s:Reason></s:Fault>"),
        kSoapType);
}

void NotAuthorized(Response& res, const std::string& reason) {
    Fault(res, 400, "s:Sender", "ter:NotAuthorized", reason);
}

std::string Element(const std::string& name, const std::string& value) {
    return "<" + name + ">" + Escaped(value) + "</" + name + ">";
}

std::string DateAndTime(int64_t unixSeconds) {
    int64_t days = unixSeconds / 86400;
    const int64_t second = unixSeconds % 86400;
    days += 719468;
    const int64_t era = days / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2);
    auto n = [](int64_t v) { return std::to_string(v); };
    return "<tds:SystemDateAndTime><tt:DateTimeType>Manual</tt:DateTimeType>"
           "<tt:DaylightSavings>false</tt:DaylightSavings><tt:TimeZone><tt:TZ>UTC0</tt:TZ>"
           "</tt:TimeZone><tt:UTCDateTime><tt:Time>" +
           Element("tt:Hour", n(second / 3600)) + Element("tt:Minute", n(second / 60 % 60)) +
           Element("tt:Second", n(second % 60)) + "</tt:Time><tt:Date>" +
           Element("tt:Year", n(year)) + Element("tt:Month", n(month)) + Element("tt:Day", n(day)) +
           "</tt:Date></tt:UTCDateTime></tds:SystemDateAndTime>";
}

bool StartsWithMark(const std::string& start, const std::string& mark) {
    if (!mark.empty()) return start.compare(0, mark.size(), mark) == 0;
    static const char* const marks[] = {"QRBA", "QRBE", "QRBI", "QRBO", "QRBU"};
    return std::any_of(std::begin(marks), std::end(marks),
                       [&](const char* m) { return start.compare(0, 4, m) == 0; });
}

// The "version=TEXT" right after the mark; empty when there is none.
std::string VersionAfter(const std::string& start, size_t markLength) {
    const std::string tag = "version=";
    if (start.size() < markLength || start.compare(markLength, tag.size(), tag) != 0) return {};
    std::string version;
    for (size_t i = markLength + tag.size(); i < start.size(); ++i) {
        const char c = start[i];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') break;
        version += c;
    }
    return version;
}

std::string Printable(const std::string& bytes) {
    std::string word;
    for (char c : bytes) word += std::isgraph(static_cast<unsigned char>(c)) ? c : '?';
    return word.empty() ? "-" : word;
}

}  // namespace

const std::vector<std::string>& OnvifFaultNames() {
    static const std::vector<std::string> names = {
        "auth_after_restart", "onvif_no_http_upgrade",    "onvif_upload_error",
        "onvif_open_upload",  "onvif_restart_unanswered", "onvif_impostor_after_restart"};
    return names;
}

OnvifService::OnvifService(DeviceEndpoints& endpoints)
    : e_(endpoints),
      digest_(DeviceAuth::Scheme::Digest, endpoints.Device.Config().User,
              endpoints.Device.Config().Password),
      token_(endpoints.Device.Config().User, endpoints.Device.Config().Password) {}

OnvifService::Login OnvifService::CurrentLogin() const {
    const bool token = e_.Device.Config().Auth == "token";
    const bool flipped = e_.Device.HasFault("auth_after_restart") && e_.Device.Restarts() % 2 == 1;
    return token != flipped ? Login::Token : Login::Digest;
}

int64_t OnvifService::DeviceNow() const {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
               .count() +
           e_.Device.Config().ClockSkewSeconds;
}

void OnvifService::Install(httplib::Server& server) {
    server.Post(kServicePath, [this](const Request& req, Response& res) { Serve(req, res); });
    server.Post(std::string(kUploadPrefix) + "[0-9a-f]+",
                [this](const Request& req, Response& res, const ContentReader& reader) {
                    Upload(req, res, reader);
                });
}

void OnvifService::Serve(const Request& req, Response& res) {
    const std::string id = e_.Device.Config().Id;
    auto problem = [&](const std::string& what) {
        PrintProblem("device " + id + ": bad ONVIF request: " + what);
        Fault(res, 400, "s:Sender", "ter:WellFormed", what);
    };
    // An empty POST is a client probing for the login (libcurl does so before Digest):
    // answered as an unauthorized request, without a problem.
    if (req.body.empty()) {
        PrintEvent("onvif-request device=" + id + " op=- auth=none verdict=refused");
        if (CurrentLogin() == Login::Token) return NotAuthorized(res, "empty request");
        digest_.Check(req, res, true);
        return;
    }
    if (req.get_header_value("Content-Type").rfind("application/soap+xml", 0) != 0) {
        return problem("Content-Type is not application/soap+xml");
    }
    pugi::xml_document doc;
    if (!doc.load_buffer(req.body.data(), req.body.size())) return problem("malformed XML");
    const pugi::xml_node envelope = doc.document_element();
    const std::string name = envelope.name();
    const size_t colon = name.find(':');
    const std::string xmlns =
        colon == std::string::npos ? "xmlns" : "xmlns:" + name.substr(0, colon);
    const std::string envelopeNs = envelope.attribute(xmlns.c_str()).value();
    if (LocalPart(envelope.name()) != "Envelope" || envelopeNs != kSoapNs) {
        return problem("not a SOAP 1.2 envelope");
    }
    const pugi::xml_node operation = ChildByLocalName(envelope, "Body").first_child();
    if (!operation || operation.type() != pugi::node_element) return problem("empty Body");
    const std::string op = LocalPart(operation.name());

    const bool digestHeader = req.get_header_value("Authorization").rfind("Digest ", 0) == 0;
    const bool tokenHeader = HasSecurityHeader(envelope);
    std::string used = digestHeader ? "digest" : tokenHeader ? "token" : "none";
    auto log = [&](const std::string& verdict) {
        PrintEvent("onvif-request device=" + id + " op=" + op + " auth=" + used +
                   " verdict=" + verdict);
    };
    if (digestHeader && tokenHeader) {
        log("refused");
        return problem("both HTTP Digest and a UsernameToken were sent");
    }
    const bool preAuth = op == "GetSystemDateAndTime" || op == "GetServiceCapabilities";
    if (!preAuth) {
        const bool refuse = e_.Device.HasFault("refuse_credentials");
        if (CurrentLogin() == Login::Digest) {
            if (!digest_.Check(req, res, refuse)) return log("refused");
        } else {
            const std::string why =
                tokenHeader ? token_.Check(envelope, DeviceNow()) : "no UsernameToken";
            if (!why.empty() || refuse) {
                log("refused");
                return NotAuthorized(res, why.empty() ? "refused" : why);
            }
        }
    }
    const std::string body = Answer(op, req);
    if (body.empty()) {
        log("unsupported");
        return Fault(res, 400, "s:Receiver", "ter:ActionNotSupported", op + " is not offered");
    }
    log("ok");
    res.status = 200;
    // Shaped by the answer faults, as the maker's pages are: a camera may trickle or
    // never end its answer.
    ServeText(res, Envelope(body), kSoapType, e_.Faults, e_.Stopping);
}

std::string OnvifService::NamedMac() const {
    // Another device answering at the camera's address once it restarted: another MAC.
    if (e_.Device.HasFault("onvif_impostor_after_restart") && e_.Device.Restarts() > 0) {
        return "02:00:5E:00:00:99";
    }
    return e_.Device.Config().Mac;
}

std::string OnvifService::Answer(const std::string& op, const Request& req) {
    const SimDeviceConfig& c = e_.Device.Config();
    const bool httpUpgrade = !e_.Device.HasFault("onvif_no_http_upgrade");
    if (op == "GetSystemDateAndTime") {
        return "<tds:GetSystemDateAndTimeResponse>" + DateAndTime(DeviceNow()) +
               "</tds:GetSystemDateAndTimeResponse>";
    }
    if (op == "GetDeviceInformation") {
        return "<tds:GetDeviceInformationResponse>" + Element("tds:Manufacturer", c.Vendor) +
               Element("tds:Model", c.Model) +
               Element("tds:FirmwareVersion", e_.Device.FirmwareVersion()) +
               Element("tds:SerialNumber", "SN-" + c.Id) + Element("tds:HardwareId", c.Model) +
               "</tds:GetDeviceInformationResponse>";
    }
    if (op == "GetNetworkInterfaces") {
        return "<tds:GetNetworkInterfacesResponse><tds:NetworkInterfaces token=\"eth0\">"
               "<tt:Enabled>true</tt:Enabled><tt:Info><tt:Name>eth0</tt:Name>" +
               Element("tt:HwAddress", NamedMac()) +
               "<tt:MTU>1500</tt:MTU></tt:Info></tds:NetworkInterfaces>"
               "</tds:GetNetworkInterfacesResponse>";
    }
    if (op == "GetServiceCapabilities") {
        return std::string(
                   "<tds:GetServiceCapabilitiesResponse><tds:Capabilities>"
                   "<tds:Network/><tds:Security UsernameToken=\"true\" "
                   "HttpDigest=\"true\"/><tds:System HttpFirmwareUpgrade=\"") +
               (httpUpgrade ? "true" : "false") +
               "\" FirmwareUpgrade=\"false\"/></tds:Capabilities>"
               "</tds:GetServiceCapabilitiesResponse>";
    }
    if (op == "StartFirmwareUpgrade" && httpUpgrade) {
        return "<tds:StartFirmwareUpgradeResponse>" + Element("tds:UploadUri", NewTicket(req)) +
               Element("tds:UploadDelay", c.UploadDelay) +
               Element("tds:ExpectedDownTime", "PT" + std::to_string(c.RebootSeconds) + "S") +
               "</tds:StartFirmwareUpgradeResponse>";
    }
    return std::string();
}

std::string OnvifService::NewTicket(const Request&) {
    unsigned char random[8];
    RAND_bytes(random, sizeof random);
    static const char digits[] = "0123456789abcdef";
    std::string path = kUploadPrefix;
    for (unsigned char b : random) {
        path += digits[b >> 4];
        path += digits[b & 15];
    }
    {
        std::lock_guard lock(mutex_);
        ticket_ = path;
    }
    return "http://" + e_.Device.Address() + ":" + std::to_string(e_.Device.HttpPort()) + path;
}

void OnvifService::Upload(const Request& req, Response& res, const ContentReader& reader) {
    const std::string id = e_.Device.Config().Id;
    std::string verdict;
    int64_t received = 0;
    int64_t length = -1;
    std::string start;
    auto drain = [&] { reader([this](const char*, size_t) { return !e_.Stopping; }); };
    const std::string& configuredMark = e_.Device.Config().ImageMark;
    const size_t markLength = configuredMark.empty() ? 4 : configuredMark.size();
    auto log = [&] {
        const std::string mark = start.substr(0, std::min(start.size(), markLength));
        PrintEvent("upload device=" + id + " path=" + req.path + " content_length=" +
                   std::to_string(length) + " received=" + std::to_string(received) +
                   " image=" + std::to_string(received) + " mark=" + Printable(mark) +
                   " version=" + (verdict == "accepted" ? VersionAfter(start, markLength) : "-") +
                   " verdict=" + verdict);
    };
    auto malformed = [&](const std::string& what) {
        PrintProblem("device " + id + ": malformed upload to " + req.path + ": " + what);
        verdict = "malformed";
        res.status = 400;
        res.set_header("Connection", "close");
    };
    {
        std::lock_guard lock(mutex_);
        if (ticket_.empty() || req.path != ticket_) {
            PrintProblem("device " + id + ": upload to " + req.path +
                         ", which StartFirmwareUpgrade did not hand out");
            res.status = 404;
            drain();
            return;
        }
    }
    const bool open = e_.Device.HasFault("onvif_open_upload");
    if (!open && CurrentLogin() == Login::Digest &&
        !digest_.Check(req, res, e_.Device.HasFault("refuse_credentials"))) {
        // Read what the client is still sending before the 401 closes the exchange.
        drain();
        verdict = "refused";
        return log();
    }
    const std::string type = req.get_header_value("Content-Type");
    const std::string lengthText = req.get_header_value("Content-Length");
    const char* end = lengthText.data() + lengthText.size();
    if (type != "application/octet-stream") {
        malformed("Content-Type is '" + type + "', not application/octet-stream");
    } else if (req.has_header("Transfer-Encoding")) {
        malformed("chunked body; the camera needs a Content-Length");
    } else if (std::from_chars(lengthText.data(), end, length).ptr != end || length < 0) {
        malformed("no valid Content-Length");
    }
    if (!verdict.empty()) return log();
    const UploadFaults& faults = e_.Uploads;
    const int64_t dropAt = faults.DropAfter >= 0 ? faults.DropAfter : faults.Drop ? length / 2 : -1;
    bool dropped = false;
    reader([&](const char* data, size_t count) {
        if (e_.Stopping) return false;
        if (dropAt >= 0 && received + static_cast<int64_t>(count) > dropAt) {
            dropped = true;
            return false;
        }
        if (start.size() < kMarkBytesKept) {
            start.append(data, std::min(count, kMarkBytesKept - start.size()));
        }
        received += static_cast<int64_t>(count);
        return true;
    });
    const int64_t imageBytes = e_.Device.Config().ImageBytes;
    if (dropped) {
        verdict = "dropped";
        res.status = 400;
        res.set_header("Connection", "close");
    } else if (received != length) {
        malformed("the body ended after " + std::to_string(received) + " of " +
                  std::to_string(length) + " bytes");
    } else if (received == 0) {
        // What a camera makes of libcurl's empty probe: an image it cannot read.
        PrintProblem("device " + id + ": upload to " + req.path + " with an empty body");
        verdict = "empty";
        res.status = 415;
    } else if (imageBytes > 0 && received != imageBytes) {
        malformed("the body holds " + std::to_string(received) + " bytes, the image " +
                  std::to_string(imageBytes));
    } else if (e_.Device.HasFault("onvif_upload_error")) {
        verdict = "failed";
        res.status = 500;
    } else if (!StartsWithMark(start, configuredMark)) {
        verdict = "rejected";
        res.status = 415;
    } else {
        verdict = "accepted";
        res.status = 200;
        std::lock_guard lock(mutex_);
        ticket_.clear();
    }
    log();
    if (verdict != "accepted") return;
    std::string version = VersionAfter(start, markLength);
    if (version.empty()) version = e_.Device.Config().NextFirmware;
    e_.Reboot.Request(version);
    if (e_.Device.HasFault("onvif_restart_unanswered")) {
        // It restarts before it answers: the connection ends as the restart begins.
        WaitUnlessStopping(e_.Device.Config().RestartDelayMs, e_.Stopping);
        if (!CutConnection(req)) PrintProblem("device " + id + ": upload connection not found");
    }
}
