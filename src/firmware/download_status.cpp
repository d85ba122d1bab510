#include "firmware/download_status.h"

#include "base/result_codes.h"
#include "base/text.h"

std::string ProgressText(int secondsLeft, int percent, const TextLookup& lookup) {
    const int a = secondsLeft;
    const std::string clock =
        StrFormat("%02d:%02d:%02d", a / 3600, a / 60 - (a / 3600) * 60, a % 60);
    // The text is the translator's: its %s is replaced, never used as a format.
    std::string left = lookup("DownloadPage", "TimeLeft", "%s left");
    if (const size_t at = left.find("%s"); at != std::string::npos) left.replace(at, 2, clock);
    return StrFormat("%d%% (", percent) + left + ")";
}

std::string DownloadFailureText(int result, const TextLookup& lookup) {
    constexpr std::string_view kSection = "DownloadPage";
    switch (result) {
        case rc::kNameNotResolved:
            return lookup(kSection, "NameNotResolvedReason",
                          "the server's host name does not resolve");
        case rc::kCannotConnect:
            return lookup(kSection, "CannotConnectReason", "cannot connect to the server");
        case rc::kTimeout:
            return lookup(kSection, "TimeoutReason", "the server stopped answering");
        case rc::kProxyRefused:
            return lookup(kSection, "ProxyRefusedReason",
                          "the proxy refused the connection or its log-in");
        case rc::kSinkStopped:
            return lookup(kSection, "NoSpaceReason", "not enough free space in the store folder");
        case rc::kHttpNotFound:
            return lookup(kSection, "NotFoundReason", "the server has no such file (HTTP 404)");
        case rc::kChecksumMismatch:
            return lookup(kSection, "ChecksumReason",
                          "image failed its checksum; it will be downloaded again");
        default: {
            // The text is the translator's: its %d is replaced, never used as a format.
            std::string text =
                lookup(kSection, "TransferReason", "the transfer failed (result %d)");
            if (const size_t at = text.find("%d"); at != std::string::npos) {
                text.replace(at, 2, std::to_string(result));
            }
            return text;
        }
    }
}
