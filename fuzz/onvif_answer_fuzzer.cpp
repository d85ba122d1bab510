// An answer of a camera's device service (or anything posing as one): the SOAP parser and
// the readers of every operation's response.
#include <cstdint>
#include <string_view>

#include "base/http_url.h"
#include "base/xs_duration.h"
#include "fuzz_check.h"
#include "web/onvif_device.h"
#include "web/onvif_session.h"
#include "web/soap_envelope.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // A duration is never beyond the limit it was read with.
    if (std::optional<int64_t> ms = ParseXsDuration(text, onvif::kMaxDownTimeMs)) {
        FUZZ_CHECK(*ms >= 0 && *ms <= onvif::kMaxDownTimeMs);
    }
    SoapAnswer answer;
    if (!ParseSoapAnswer(text, answer)) return 0;
    FUZZ_CHECK(answer.IsFault != static_cast<bool>(answer.Payload));
    if (answer.IsFault) return 0;
    OnvifDeviceInfo info;
    if (ReadDeviceInformation(answer.Payload, info)) {
        FUZZ_CHECK(!info.Model.empty() && !info.FirmwareVersion.empty());
        FUZZ_CHECK(info.Model.size() <= onvif::kMaxTextBytes &&
                   info.FirmwareVersion.size() <= onvif::kMaxTextBytes);
    }
    std::string mac;
    if (ReadMacAddress(answer.Payload, mac)) FUZZ_CHECK(mac.size() == 17);
    OnvifUpgradeTicket ticket;
    if (ReadUpgradeTicket(answer.Payload, ticket)) {
        FUZZ_CHECK(ParseHttpUrl(ticket.UploadUri).has_value());
        FUZZ_CHECK(ticket.UploadDelayMs >= 0 && ticket.UploadDelayMs <= onvif::kMaxUploadDelayMs);
        FUZZ_CHECK(ticket.ExpectedDownTimeMs >= 0 &&
                   ticket.ExpectedDownTimeMs <= onvif::kMaxDownTimeMs);
    }
    int64_t seconds = 0;
    if (DeviceUtcSeconds(answer.Payload, seconds)) FUZZ_CHECK(seconds >= 0);
    ReadHttpFirmwareUpgrade(answer.Payload);
    return 0;
}
