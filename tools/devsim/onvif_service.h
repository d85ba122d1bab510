#pragma once

#include <httplib.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http_auth.h"
#include "ws_token_check.h"

struct DeviceEndpoints;

// The ONVIF side of a simulated camera of another maker (protocol=onvif): the device
// service at /onvif/device_service (SOAP 1.2) with GetSystemDateAndTime,
// GetServiceCapabilities, GetDeviceInformation, GetNetworkInterfaces and
// StartFirmwareUpgrade, and the upload address that StartFirmwareUpgrade hands out.
//
// GetSystemDateAndTime and GetServiceCapabilities need no log-in; the rest take HTTP
// Digest (a fresh nonce per challenge) or, with auth=token, a WS-UsernameToken whose
// Created is within five minutes of the camera's clock (the real time plus
// clock_skew_s); a request without one, or with a bad one, gets 400 and a
// ter:NotAuthorized fault. A request that carries both is refused loudly.
//
// The upload (POST, application/octet-stream, a Content-Length; HTTP Digest too unless
// auth=token, where the one-time address is the credential) is read as it arrives. An
// empty body, a body shorter than its Content-Length, or one of another size than
// image_bytes (when set) is a loud problem (415 for the empty one, as a camera answers
// libcurl's empty probe; 400 else); an image that does not begin with image_mark
// (default: one of the maker's marks) is answered with 415, an accepted one with 200,
// and the camera restarts for reboot_seconds (which it names as ExpectedDownTime),
// running the version the image names after its mark ("MARKversion=2.0.0..."), else
// next_firmware.
//
// Prints 'onvif-request device=ID op=OP auth=none|digest|token verdict=ok|refused' per
// request and 'upload device=ID path=P content_length=N received=N image=N mark=M
// version=V verdict=accepted|rejected|refused|malformed|empty|dropped|failed' per upload.
//
// Faults: auth_after_restart (after each restart it asks for the other way of logging
// in), onvif_no_http_upgrade (HttpFirmwareUpgrade="false"), onvif_upload_error (the
// upload is answered with 500), onvif_open_upload (the upload address takes the image
// without a log-in beside a Digest device service), onvif_restart_unanswered (it takes
// the image and restarts without answering: the connection ends after restart_delay_ms);
// drop_mid_upload, never_back, reboot_old_version and reboot_address as for the maker's
// devices.
class OnvifService {
public:
    explicit OnvifService(DeviceEndpoints& endpoints);

    void Install(httplib::Server& server);

private:
    enum class Login { Digest, Token };
    Login CurrentLogin() const;
    int64_t DeviceNow() const;
    void Serve(const httplib::Request& req, httplib::Response& res);
    void Upload(const httplib::Request& req, httplib::Response& res,
                const httplib::ContentReader& reader);
    // The operation's response body (the element inside Body), or empty for one the
    // camera does not offer.
    std::string Answer(const std::string& operation, const httplib::Request& req);
    // The MAC GetNetworkInterfaces names.
    std::string NamedMac() const;
    std::string NewTicket(const httplib::Request& req);

    DeviceEndpoints& e_;
    DeviceAuth digest_;
    UsernameTokenCheck token_;
    std::mutex mutex_;
    std::string ticket_;  // the path StartFirmwareUpgrade handed out last; empty once used
};

const std::vector<std::string>& OnvifFaultNames();
