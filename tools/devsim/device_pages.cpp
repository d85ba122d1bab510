// The pages a device serves to say who it is and to log a user in.
#include <map>

#include "device_http.h"

namespace {

using httplib::Request;
using httplib::Response;

const char* LineEnd(const SimDevice& device) {
    return device.HasFault("crlf_lines") ? "\r\n" : "\n";
}

// "name=value" lines, each ended, unless `lastUnended` puts that line last with no end.
std::string Lines(const std::vector<std::pair<std::string, std::string>>& lines,
                  const SimDevice& device, const std::string& lastUnended = {}) {
    std::string text;
    std::string held;
    for (const auto& [name, value] : lines) {
        if (name == lastUnended) {
            held = name + "=" + value;
        } else {
            text += name + "=" + value + LineEnd(device);
        }
    }
    return text + held;
}

std::string ProductModel(const SimDeviceConfig& c) {
    return c.ProductModel.empty() ? c.Model : c.ProductModel;
}

// A system information list, for a request that asks for one with the device's
// credentials.
void SystemList(DeviceEndpoints& e, const Request& req, Response& res, const std::string& text) {
    if (!e.Authorized(req, res)) return;
    if (req.get_param_value("action") != "list" || req.get_param_value("function") != "system") {
        res.status = 404;
        return;
    }
    res.status = 200;
    ServeText(res, text, "text/plain", e.Faults, e.Stopping);
}

// The NVR's list.
std::string LiveViewLines(const SimDevice& device) {
    const SimDeviceConfig& c = device.Config();
    const std::string marker = "nvr.system.product.model";
    return Lines({{"nvr.system.product.name", c.Name},
                  {marker, ProductModel(c)},
                  {"nvr.system.product.firmware.version", device.FirmwareVersion()},
                  {"nvr.system.product.mac.address", c.Mac},
                  {"nvr.system.network.host.name", c.HostName}},
                 device, device.HasFault("model_last_line") ? marker : std::string());
}

// The camera's list.
std::string RemoteLines(const SimDevice& device) {
    const SimDeviceConfig& c = device.Config();
    const std::string firmware = device.FirmwareVersion();
    return Lines({{"root.system.product.name", c.Name},
                  {"root.system.product.model", c.Model},
                  {"root.system.product.firmware.version", firmware},
                  {"root.Properties.Firmware.Version", firmware},
                  {"root.system.product.mac.address", c.Mac}},
                 device);
}

void NetworkInfo(DeviceEndpoints& e, const Request& req, Response& res) {
    if (!e.Authorized(req, res)) return;
    if (req.get_param_value("cgiName") != "get_info_nvr.cgi" ||
        req.get_param_value("group") != "Network") {
        res.status = 404;
        return;
    }
    const SimDeviceConfig& c = e.Device.Config();
    const char* end = LineEnd(e.Device);
    std::string text = std::string("Host Name=") + c.HostName + end + "Mac Address=" + c.Mac +
                       ",IP Address=" + c.Address + end;
    res.status = 200;
    ServeText(res, text, "text/plain", e.Faults, e.Stopping);
}

// The form fields of an application/x-www-form-urlencoded body, decoded.
std::map<std::string, std::string> FormFields(const std::string& body) {
    std::map<std::string, std::string> fields;
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string::npos) end = body.size();
        const std::string pair = body.substr(start, end - start);
        const size_t eq = pair.find('=');
        if (!pair.empty()) {
            fields[httplib::detail::decode_url(pair.substr(0, eq), true)] =
                eq == std::string::npos ? std::string()
                                        : httplib::detail::decode_url(pair.substr(eq + 1), true);
        }
        start = end + 1;
    }
    return fields;
}

// The log-in form, posted by the program, or its fields in the query of the address a
// browser opens (which then lands on the page it names).
void LoginForm(DeviceEndpoints& e, const Request& req, Response& res) {
    const SimDeviceConfig& c = e.Device.Config();
    std::map<std::string, std::string> fields;
    if (req.method == "GET") {
        for (const auto& [name, value] : req.params) fields[name] = value;
    } else {
        fields = FormFields(req.body);
    }
    const bool accepted = fields["cgiName"] == "login.cgi" && fields["userName"] == c.User &&
                          fields["userPasswd"] == c.Password &&
                          !e.Device.HasFault("refuse_credentials");
    if (e.Device.HasFault("login_answer_200")) {
        res.status = 200;
        res.set_content(accepted ? "<html><body><a href=\"/index.htm\">Continue</a></body></html>"
                                 : "<html><body>Wrong user name or password</body></html>",
                        "text/html");
        return;
    }
    const std::string landing =
        req.method == "GET" && !fields["page"].empty() ? fields["page"] : "/index.htm";
    res.set_redirect(accepted ? landing : "/login.htm", 302);
}

}  // namespace

const std::vector<std::string>& DevicePageFaultNames() {
    // login_answer_200: the log-in form answers 200 with a page (linking index.htm when
    //   accepted) instead of a redirect.
    // model_last_line: the NVR list ends with its model line, with no line end.
    // crlf_lines: information lines end with "\r\n".
    static const std::vector<std::string> names = {"login_answer_200", "model_last_line",
                                                   "crlf_lines"};
    return names;
}

void InstallDevicePages(httplib::Server& server, DeviceEndpoints& endpoints) {
    DeviceEndpoints* e = &endpoints;
    auto liveView = [e](const Request& req, Response& res) {
        SystemList(*e, req, res, LiveViewLines(e->Device));
    };
    auto remote = [e](const Request& req, Response& res) {
        SystemList(*e, req, res, RemoteLines(e->Device));
    };
    server.Get("/liveviewct", liveView);
    server.Post("/liveviewct", liveView);
    server.Get("/cgi-bin/remotect", remote);
    server.Post("/cgi-bin/remotect", remote);
    server.Get("/cgi-bin/cgi_main.cgi",
               [e](const Request& req, Response& res) { NetworkInfo(*e, req, res); });
    server.Post(R"(/login\.cgi/cgi_main\.cgi)",
                [e](const Request& req, Response& res) { LoginForm(*e, req, res); });
    server.Get(R"(/login\.cgi/cgi_main\.cgi)",
               [e](const Request& req, Response& res) { LoginForm(*e, req, res); });
    server.Get("/index.htm", [](const Request&, Response& res) {
        res.set_content("<html><body>Live view</body></html>", "text/html");
    });
    server.Get("/login.htm", [](const Request&, Response& res) {
        res.set_content(
            "<html><body><form action=\"/login.cgi/cgi_main.cgi\"></form></body></html>",
            "text/html");
    });
}
