#include "devsim_config.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <set>
#include <sstream>

#include "device_http.h"
#include "discovery_responder.h"
#include "firmware_server.h"
#include "wsd_responder.h"

namespace {

// Every fault name some protocol handler understands. Add a name here together with
// the handler code that acts on it; a config naming anything else is refused.
const std::set<std::string>& KnownDeviceFaults() {
    static const std::set<std::string> names = [] {
        std::set<std::string> all(DeviceHttpFaultNames().begin(), DeviceHttpFaultNames().end());
        all.insert(DiscoveryFaultNames().begin(), DiscoveryFaultNames().end());
        all.insert(WsdFaultNames().begin(), WsdFaultNames().end());
        return all;
    }();
    return names;
}

const std::set<std::string>& KnownServerFaults() {
    static const std::set<std::string> names(FirmwareServerFaultNames().begin(),
                                             FirmwareServerFaultNames().end());
    return names;
}

bool ParseInt(const std::string& text, int& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end;
}

bool AddFault(std::map<std::string, std::string>& faults, const std::set<std::string>& known,
              const std::string& value, std::string& error) {
    size_t colon = value.find(':');
    std::string name = value.substr(0, colon);
    if (!known.count(name)) {
        error = "unknown fault '" + name + "'";
        return false;
    }
    faults[name] = colon == std::string::npos ? std::string() : value.substr(colon + 1);
    return true;
}

// The IPv4 address `n` after `base`, e.g. "198.18.1.0" and 300 give "198.18.2.44";
// empty when `base` is no IPv4 address or the sum leaves the address space.
std::string AddressAfter(const std::string& base, int n) {
    in_addr address{};
    if (::inet_pton(AF_INET, base.c_str(), &address) != 1) return {};
    const uint64_t sum = uint64_t{ntohl(address.s_addr)} + static_cast<uint64_t>(n);
    if (sum > 0xFFFFFFFFu) return {};
    address.s_addr = htonl(static_cast<uint32_t>(sum));
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

// Replaces "{n}" and "{n+K}" with the device number (1-based) plus K, and "{ip:BASE}"
// with the IPv4 address that many after BASE (for more devices than one /24 holds).
std::string Substitute(const std::string& text, int n) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, 4, "{ip:") == 0) {
            const size_t close = text.find('}', i);
            const std::string address = close == std::string::npos
                                            ? std::string()
                                            : AddressAfter(text.substr(i + 4, close - i - 4), n);
            if (!address.empty()) {
                out += address;
                i = close + 1;
                continue;
            }
        }
        if (text.compare(i, 2, "{n") == 0) {
            size_t close = text.find('}', i);
            if (close != std::string::npos) {
                int offset = 0;
                std::string inner = text.substr(i + 2, close - i - 2);
                if (inner.empty() || (inner[0] == '+' && ParseInt(inner.substr(1), offset))) {
                    out += std::to_string(n + offset);
                    i = close + 1;
                    continue;
                }
            }
        }
        out += text[i++];
    }
    return out;
}

// Splits "k=v" items separated by `separator`; double quotes group blanks in a file.
std::vector<std::string> SplitItems(const std::string& text, char separator) {
    std::vector<std::string> items;
    std::string current;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == separator && !quoted) {
            if (!current.empty()) items.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) items.push_back(current);
    return items;
}

template <typename Target, typename Apply>
bool ApplyItems(Target& target, const std::vector<std::string>& items, Apply apply,
                std::string& error) {
    for (const std::string& item : items) {
        size_t eq = item.find('=');
        if (eq == std::string::npos) {
            error = "expected key=value, got '" + item + "'";
            return false;
        }
        if (!apply(target, item.substr(0, eq), item.substr(eq + 1), error)) return false;
    }
    return true;
}

bool AddDevices(DevsimConfig& config, int count, const std::vector<std::string>& items,
                std::string& error) {
    if (count < 1 || count > 10000) {
        error = "device count must be between 1 and 10000";
        return false;
    }
    for (int n = 1; n <= count; ++n) {
        std::vector<std::string> concrete;
        for (const std::string& item : items) concrete.push_back(Substitute(item, n));
        SimDeviceConfig device;
        if (!ApplyItems(device, concrete, ApplyDeviceSetting, error)) return false;
        config.Devices.push_back(device);
    }
    return true;
}

bool ApplyLine(DevsimConfig& config, const std::string& kind, const std::vector<std::string>& items,
               std::string& error) {
    if (kind == "device") return AddDevices(config, 1, items, error);
    if (kind == "firmware-server") {
        config.FirmwareServer.Enabled = true;
        return ApplyItems(config.FirmwareServer, items, ApplyFirmwareServerSetting, error);
    }
    if (kind == "proxy") {
        config.Proxy.Enabled = true;
        return ApplyItems(config.Proxy, items, ApplyProxySetting, error);
    }
    error = "unknown entry '" + kind + "'";
    return false;
}

bool ReadConfigFile(DevsimConfig& config, const std::string& path, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read config file " + path;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string::npos || line[start] == '#') continue;
        std::vector<std::string> words = SplitItems(line.substr(start), ' ');
        std::erase_if(words, [](const std::string& w) { return w == "\r" || w == "\t"; });
        bool ok;
        if (words[0] == "devices") {
            int count = 0;
            ok = words.size() >= 2 && ParseInt(words[1], count);
            if (!ok) error = "devices needs a count";
            ok = ok && AddDevices(config, count, {words.begin() + 2, words.end()}, error);
        } else {
            ok = ApplyLine(config, words[0], {words.begin() + 1, words.end()}, error);
        }
        if (!ok) {
            error = path + ":" + std::to_string(number) + ": " + error;
            return false;
        }
    }
    return true;
}

}  // namespace

bool ApplyDeviceSetting(SimDeviceConfig& d, const std::string& key, const std::string& value,
                        std::string& error) {
    std::map<std::string, std::string*> texts = {{"name", &d.Name},
                                                 {"id", &d.Id},
                                                 {"mac", &d.Mac},
                                                 {"model", &d.Model},
                                                 {"product_model", &d.ProductModel},
                                                 {"vendor", &d.Vendor},
                                                 {"firmware", &d.Firmware},
                                                 {"host_name", &d.HostName},
                                                 {"address", &d.Address},
                                                 {"next_firmware", &d.NextFirmware},
                                                 {"user", &d.User},
                                                 {"password", &d.Password},
                                                 {"image_mark", &d.ImageMark},
                                                 {"upload_delay", &d.UploadDelay}};
    std::map<std::string, int*> numbers = {{"http_port", &d.HttpPort},
                                           {"https_port", &d.HttpsPort},
                                           {"reboot_seconds", &d.RebootSeconds},
                                           {"restart_delay_ms", &d.RestartDelayMs},
                                           {"clock_skew_s", &d.ClockSkewSeconds},
                                           {"image_bytes", &d.ImageBytes}};
    if (auto it = texts.find(key); it != texts.end()) {
        *it->second = value;
        return true;
    }
    if (auto it = numbers.find(key); it != numbers.end()) {
        if (!ParseInt(value, *it->second)) {
            error = "'" + key + "' needs a number, got '" + value + "'";
            return false;
        }
        return true;
    }
    if (key == "fault") return AddFault(d.Faults, KnownDeviceFaults(), value, error);
    if (key == "auth") {
        if (value != "basic" && value != "digest" && value != "token") {
            error = "'auth' is basic, digest or token, got '" + value + "'";
            return false;
        }
        d.Auth = value;
        return true;
    }
    if (key == "protocol") {
        if (value != "quorlent" && value != "onvif") {
            error = "'protocol' is quorlent or onvif, got '" + value + "'";
            return false;
        }
        d.Protocol = value;
        return true;
    }
    error = "unknown device setting '" + key + "'";
    return false;
}

bool ApplyFirmwareServerSetting(FirmwareServerConfig& s, const std::string& key,
                                const std::string& value, std::string& error) {
    if (key == "address") {
        s.Address = value;
    } else if (key == "folder") {
        s.Folder = value;
    } else if (key == "port") {
        if (!ParseInt(value, s.Port)) {
            error = "'port' needs a number, got '" + value + "'";
            return false;
        }
    } else if (key == "fault") {
        return AddFault(s.Faults, KnownServerFaults(), value, error);
    } else if (key == "log") {
        if (value != "0" && value != "1") {
            error = "'log' is 0 or 1, got '" + value + "'";
            return false;
        }
        s.LogRequests = value == "1";
    } else {
        error = "unknown firmware-server setting '" + key + "'";
        return false;
    }
    return true;
}

bool ApplyProxySetting(ProxyConfig& p, const std::string& key, const std::string& value,
                       std::string& error) {
    if (key == "address") {
        p.Address = value;
    } else if (key == "user") {
        p.User = value;
    } else if (key == "password") {
        p.Password = value;
    } else if (key == "port" || key == "cut_after") {
        if (!ParseInt(value, key == "port" ? p.Port : p.CutAfter)) {
            error = "'" + key + "' needs a number, got '" + value + "'";
            return false;
        }
    } else if (key == "log") {
        if (value != "0" && value != "1") {
            error = "'log' is 0 or 1, got '" + value + "'";
            return false;
        }
        p.LogRequests = value == "1";
    } else {
        error = "unknown proxy setting '" + key + "'";
        return false;
    }
    return true;
}

std::optional<DevsimConfig> ParseDevsimArgs(const std::vector<std::string>& args,
                                            std::string& error) {
    DevsimConfig config;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto next = [&](std::string& value) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        std::string value;
        bool ok;
        if (arg == "--config") {
            ok = next(value) && ReadConfigFile(config, value, error);
        } else if (arg == "--device") {
            ok = next(value) && ApplyLine(config, "device", SplitItems(value, ','), error);
        } else if (arg == "--firmware-server") {
            ok = next(value) && ApplyLine(config, "firmware-server", SplitItems(value, ','), error);
        } else if (arg == "--proxy") {
            ok = next(value) && ApplyLine(config, "proxy", SplitItems(value, ','), error);
        } else if (arg == "--discovery" || arg == "--discovery-log") {
            config.Discovery.Enabled = true;
            config.Discovery.LogRequests = config.Discovery.LogRequests || arg == "--discovery-log";
            ok = true;
        } else if (arg == "--devices") {
            std::string count, templ;
            int n = 0;
            ok = next(count) && next(templ);
            if (ok && !ParseInt(count, n)) {
                error = "--devices needs a count";
                ok = false;
            }
            ok = ok && AddDevices(config, n, SplitItems(templ, ','), error);
        } else {
            error = "unknown argument '" + arg + "'";
            ok = false;
        }
        if (!ok) return std::nullopt;
    }
    if (config.Devices.empty() && !config.FirmwareServer.Enabled && !config.Proxy.Enabled) {
        error =
            "nothing to simulate: give --device, --devices, --firmware-server, --proxy or "
            "--config";
        return std::nullopt;
    }
    return config;
}

std::string DevsimUsage() {
    auto join = [](const std::set<std::string>& names) {
        std::string text;
        for (const std::string& name : names) text += " " + name;
        return text;
    };
    return "usage: devsim [--config FILE] [--device K=V,...]... [--devices N K=V,...]\n"
           "              [--firmware-server K=V,...] [--proxy K=V,...] [--discovery]\n"
           "              [--discovery-log]\n"
           "\n"
           "Simulates cameras/NVRs and the firmware server for tests and demos.\n"
           "Device keys: name id mac model product_model vendor firmware host_name address\n"
           "  http_port https_port (0: any free port; -1: none, a device that only answers\n"
           "  the search when http_port) user password\n"
           "  reboot_seconds restart_delay_ms next_firmware auth=basic|digest|token\n"
           "  protocol=quorlent|onvif clock_skew_s image_mark image_bytes upload_delay\n"
           "  fault=NAME[:VALUE] (repeatable)\n"
           "--devices N K=V,...: N devices; {n} and {n+K} in values become the number,\n"
           "  {ip:A.B.C.D} the address that many after A.B.C.D.\n"
           "Firmware-server keys: address port folder fault=NAME[:VALUE] log=0|1\n"
           "  log=1 prints 'request method=M path=P range=R' per request ('-': no Range).\n"
           "Proxy keys: address port user password cut_after=BYTES log=0|1: a forward HTTP\n"
           "  proxy to 127.0.0.0/8 only; with a user it asks for Basic log-in (407); the\n"
           "  first answer longer than BYTES is cut there; log=1 prints 'proxy method=M\n"
           "  url=U auth=none|ok|refused cut=0|1' per request.\n"
           "--discovery: every device answers the multicast discovery request (234.2.2.9\n"
           "  port 14675) from its address; --discovery-log also prints each request\n"
           "  received as 'discovery-request from=A length=N valid=0|1 bytes=HEX'.\n"
           "  Faults: discovery_short[:N] discovery_code:N discovery_vendor[:NAME]\n"
           "  discovery_duplicate[:N] discovery_delay:MS discovery_jitter:MS\n"
           "  discovery_loss:P (P % of requests and of replies lost at random)\n"
           "  discovery_endless (the reply again every 100 ms for a minute)\n"
           "  discovery_address:ADDR (ADDR named as its address).\n"
           "  ONVIF cameras (protocol=onvif) answer WS-Discovery probes instead (239.255.255.250\n"
           "  port 3702); --discovery-log prints 'wsd-probe from=A message_id=M valid=0|1'.\n"
           "  Faults: wsd_stale_xaddr:HOST (a service address on HOST listed first)\n"
           "  wsd_relates_to_upper (RelatesTo in upper case) wsd_trailing_nul (a NUL\n"
           "  byte after the XML) wsd_endless (the reply again every 100 ms for a minute).\n"
           "ONVIF cameras serve /onvif/device_service (GetSystemDateAndTime,\n"
           "  GetServiceCapabilities, GetDeviceInformation, GetNetworkInterfaces,\n"
           "  StartFirmwareUpgrade) with HTTP Digest or, auth=token, a WS-UsernameToken checked\n"
           "  against their clock (real time + clock_skew_s), and take the image by POST at the\n"
           "  UploadUri; 415 for an image not starting with image_mark (default: the maker's\n"
           "  marks); an empty body, or one not of image_bytes (when set), is a problem on\n"
           "  stderr. They print 'onvif-request device=ID op=OP auth=none|digest|token\n"
           "  verdict=ok|refused|unsupported' per request. Faults: auth_after_restart\n"
           "  onvif_no_http_upgrade onvif_upload_error onvif_open_upload (the upload takes\n"
           "  the image without a log-in) onvif_restart_unanswered (it restarts without\n"
           "  answering the upload) onvif_impostor_after_restart (another MAC named once\n"
           "  it restarted), and drop_mid_upload never_back reboot_old_version.\n"
           "Config file: one entry per line: 'device K=V ...', 'devices N K=V ...',\n"
           "  'firmware-server K=V ...'; '#' starts a comment; \"...\" groups blanks.\n"
           "When every server listens, devsim prints one line per device\n"
           "  'device id=ID address=A http_port=P https_port=Q' (ONVIF cameras add\n"
           "  'endpoint=urn:uuid:...', the identifier a search keys them by), then\n"
           "  'firmware-server port=P' and 'proxy port=P' when enabled, then 'ready'; it\n"
           "  runs until\n"
           "  SIGINT or SIGTERM.\n"
           "Uploads: POST /cgi-bin/cgi_main.cgi (parts 'file', then cgiName=upgrade.cgi) and\n"
           "  /cgi-bin/admin/firmwareupgrade.cgi?filename=F (one part named F) are read as they\n"
           "  arrive and checked: credentials, Content-Length, boundary, parts, and the image\n"
           "  mark QRBA/QRBE/QRBI/QRBO/QRBU at the start of the file part. An image without a\n"
           "  mark is answered with cfg_system_upgradeError; a malformed body with 400 and a\n"
           "  line on stderr. An upload whose request passed the checks prints\n"
           "  'upload-start device=ID path=P' before its body is read. Each upload prints\n"
           "  'upload device=ID path=P content_length=N received=N image=N mark=M\n"
           "  version=V verdict=accepted|rejected|malformed|dropped|refused'. After an\n"
           "  accepted image the device goes on answering for restart_delay_ms (writing its\n"
           "  flash; 'device id=ID restarting'), is then away for reboot_seconds ('device\n"
           "  id=ID away'), then back ('device id=ID back address=A http_port=P\n"
           "  https_port=Q firmware=V') running the version the image names right after its\n"
           "  mark ('QRBAversion=2.1.0...'), else next_firmware, else its old one. Faults\n"
           "  never_back, reboot_address:ADDR and reboot_old_version change how it comes back.\n"
           "Device faults:" +
           join(KnownDeviceFaults()) +
           "\n"
           "Firmware-server faults:" +
           join(KnownServerFaults()) + "\n";
}
