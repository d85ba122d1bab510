#pragma once

#include "pipeline/device_family.h"

// The maker's NVRs and cameras, found by the multicast search: the NVR form and the
// "PLX-420S" form, chosen by the model table (maker_models.h).
class MakerFamily final : public IDeviceFamily {
public:
    static constexpr const char* kAcceptedVendor = "Quorlent";

    const char* Name() const override { return "maker"; }
    bool Takes(DeviceProtocol protocol) const override { return protocol == DeviceProtocol::Maker; }
    std::unique_ptr<CSearch> MakeSearch() const override;
    CheckOutcome CheckLogin(CIPCamInfo& record) const override;
    int AskAtAddress(const AddressAsk& ask, CIPCamInfo& record) const override;
    std::string WebPage(const CIPCamInfo& record) const override;
    std::string VersionNamedBy(const UpgradeJob& job, int timeoutMs) const override;
    ImageChoice Images(const std::string& model) const override;
    FamilyTraits Traits(const UpgradeJob& job) const override;
    std::unique_ptr<IUpgradeSession> Open(UpgradeJob& job, const Clock& clock) const override;
};
