#pragma once

#include "pipeline/device_family.h"

// ONVIF cameras of any maker, found over WS-Discovery: upgraded through their device
// service (StartFirmwareUpgrade, then the image by POST to the UploadUri). Only a camera
// that then names another firmware version counts as upgraded: -408 when it is back
// with the old one, -10 when it is not back, -406 when it refused the image (415), -702
// when it failed to install it (500), -701 when it takes no firmware over HTTP.
class OnvifFamily final : public IDeviceFamily {
public:
    const char* Name() const override { return "onvif"; }
    bool Takes(DeviceProtocol protocol) const override { return protocol == DeviceProtocol::Onvif; }
    std::unique_ptr<CSearch> MakeSearch() const override;
    CheckOutcome CheckLogin(CIPCamInfo& record) const override;
    int AskAtAddress(const AddressAsk& ask, CIPCamInfo& record) const override;
    std::string WebPage(const CIPCamInfo& record) const override;
    std::string VersionNamedBy(const UpgradeJob& job, int timeoutMs) const override;
    ImageChoice Images(const std::string& model) const override;
    FamilyTraits Traits(const UpgradeJob& job) const override;
    std::unique_ptr<IUpgradeSession> Open(UpgradeJob& job, const Clock& clock) const override;
};
