#pragma once

#include <functional>
#include <string>
#include <vector>

#include "registry/camera_table.h"
#include "registry/credential_check.h"

// The device commands the main window hands to the upgrade page.
namespace command {
constexpr int kCheckPassed = 32786;
constexpr int kCheckFailed = 32787;
constexpr int kPasswordTyped = 32788;
constexpr int kNvrLoginFailed = 32789;
constexpr int kServerUnreachable = 32791;
constexpr int kDeviceAddedByHand = 32792;
}  // namespace command

// The commands that tell how a check ended, in the order they are sent: passed; or
// failed, followed by the NVR log-in's refusal or by the device being unreachable.
std::vector<int> CheckOutcomeCommands(CheckOutcome outcome);

// Turns the end of every credential check into its commands, sent on the check's
// thread through `post`, each with a copy of the device's record as the check left it.
class CCheckCommands final : public ICredentialCheckObserver {
public:
    using Poster = std::function<void(int command, const CIPCamInfo& record)>;

    CCheckCommands(CCameraTable& table, Poster post) : table_(table), post_(std::move(post)) {}

    void CredentialCheckEnded(const std::string& deviceId, CheckOutcome outcome) override;

private:
    CCameraTable& table_;
    Poster post_;
};
