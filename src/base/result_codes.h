#pragma once

// Result codes shared by every subsystem. Zero and positive values mean success.
namespace rc {

constexpr int kOk = 0;
constexpr int kFailed = -1;                 // any other failure
constexpr int kTimeout = -2;                // the request timed out
constexpr int kCancelled = -6;              // the sink asked to cancel
constexpr int kNameNotResolved = -7;        // the host name did not resolve
constexpr int kCannotConnect = -8;          // no connection could be made
constexpr int kSinkStopped = -9;            // the sink said it cannot continue
constexpr int kNotSeenAgain = -10;          // the device did not come back after its reboot
constexpr int kNotConfirmed = -11;          // the run ended (stop, exit, crash) while the
                                            // device may have been flashing or restarting
constexpr int kFileOpenFailed = -12;        // the firmware file failed to open
constexpr int kSendHeadFailed = -13;        // sending the request head failed
constexpr int kAnswerTooLarge = -20;        // an answer held in memory passed its size cap
constexpr int kProxyRefused = -23;          // the proxy refused the connection or its log-in
constexpr int kHttpNotFound = -101;         // HTTP 404
constexpr int kHttpUnauthorized = -301;     // HTTP 401
constexpr int kLoginRefused = -304;         // the device refused the user name and password
constexpr int kImageRejected = -406;        // the device rejected the firmware image
constexpr int kConfigNotConfirmed = -407;   // the configuration upload was not confirmed
constexpr int kOldFirmwareStill = -408;     // back from its upgrade with its old firmware
constexpr int kNoNewerImage = -503;         // no newer image applies to the device
constexpr int kChecksumMismatch = -1101;    // a downloaded image differs from its MD5
constexpr int kNoHttpUpgrade = -701;        // the ONVIF camera takes no firmware over HTTP
constexpr int kCameraInstallFailed = -702;  // the ONVIF camera failed to install the image
constexpr int kNoCameraImage = -703;        // no image was chosen for the ONVIF camera
// A batch's guards kept the device from starting (it was not touched).
constexpr int kFirstOfModelFailed = -601;  // the first device of its model failed
constexpr int kTooManyFailures = -602;     // the run's limit of failed devices was reached
constexpr int kPastWindow = -603;          // it would not finish before the window's end
constexpr bool IsNotStarted(int code) { return code <= kFirstOfModelFailed && code >= kPastWindow; }
// Success: the device ended as not seen again (-10), then came back with its new firmware.
constexpr int kReturnedLate = 601;

}  // namespace rc
