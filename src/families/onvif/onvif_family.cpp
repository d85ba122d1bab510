#include "families/onvif/onvif_family.h"

#include "base/result_codes.h"
#include "base/text.h"
#include "base/trace.h"
#include "discovery/ws_discovery_search.h"
#include "families/onvif/onvif_login.h"
#include "families/onvif/onvif_upgrade_steps.h"
#include "families/onvif/onvif_upload.h"
#include "web/onvif_device.h"
#include "web/onvif_session.h"

namespace {

constexpr int kRequestTimeoutMs = 10000;
// Cameras answer SOAP more slowly than the maker's devices their pages.
constexpr int kLookTimeoutMs = 2000;
constexpr int kUploadStallMs = 60000;
// While it waits, the pipeline asks the camera every this many seconds (more often
// would load a camera that is starting); the search looks every second.
constexpr int kAskEveryLooks = 5;
// Until a camera names its ExpectedDownTime (once its upgrade has begun), five minutes
// are assumed.
constexpr int kAssumedDownSeconds = 300;

std::vector<std::string> AddressesOf(const UpgradeJob& job) {
    const JobAddress at = job.Address();
    return CameraServiceAddresses(job.ServiceAddresses, at.Scheme, at.Host, at.Port);
}

class OnvifSession final : public IUpgradeSession {
public:
    explicit OnvifSession(UpgradeJob& job)
        : job_(job),
          session_(AddressesOf(job), job.UserName, job.Password, kRequestTimeoutMs),
          upgradedAt_(job.Address().Host) {}

    int Prepare() override { return PrepareOnvifUpgrade(session_, before_, ticket_); }

    int CheckMac(const std::string& mac, std::string&) override {
        std::string named;
        const int result = GetMacAddress(session_, named);
        if (result != rc::kOk) return result;
        if (ToUpperAscii(named) != ToUpperAscii(Trim(mac))) {
            Trace("upgrade of %s: the camera names MAC '%s'; nothing is sent",
                  job_.DeviceId.c_str(), named.c_str());
            return rc::kFailed;
        }
        return rc::kOk;
    }

    DeviceTiming Timing() const override {
        return {ticket_.UploadDelayMs, ticket_.ExpectedDownTimeMs};
    }
    std::string VersionBefore() const override { return before_; }

    int UploadFront(std::stop_token stop) override {
        const std::string image = job_.TakeFrontImage();
        return UploadOnvifImage(ticket_.UploadUri, image, job_.UserName, job_.Password,
                                kUploadStallMs, job_.ImageSize, job_.BytesSent, std::move(stop));
    }

    bool Ask(int, int, ReturnWatch& watch) override {
        session_.SetTimeout(kLookTimeoutMs);
        // Elsewhere, another camera could name the MAC; its model must match too.
        const bool moved = job_.Address().Host != upgradedAt_;
        bool foreign = false;
        lastAsk_ =
            LookAtCamera(session_, {job_.Mac, moved ? job_.Model : std::string()}, watch, foreign);
        return lastAsk_ == rc::kOk || (session_.LastAnswered() && !foreign);
    }

    int LastAsk() const override { return lastAsk_; }

    void Follow(const JobAddress&) override { session_.PreferAddress(AddressesOf(job_).front()); }

private:
    UpgradeJob& job_;
    COnvifSession session_;
    std::string before_;
    OnvifUpgradeTicket ticket_;
    const std::string upgradedAt_;  // the host the image went to
    int lastAsk_ = rc::kOk;
};

}  // namespace

std::unique_ptr<CSearch> OnvifFamily::MakeSearch() const {
    return std::make_unique<CWsDiscoverySearch>();
}

CheckOutcome OnvifFamily::CheckLogin(CIPCamInfo& record) const { return CheckOnvifLogin(record); }

std::string OnvifFamily::WebPage(const CIPCamInfo& record) const {
    // A camera of another maker has its own pages, and its own log-in there.
    return StrFormat("%s://%s:%d/", record.GetScheme().c_str(), record.HostAddress.c_str(),
                     record.GetPort());
}

std::string OnvifFamily::VersionNamedBy(const UpgradeJob& job, int timeoutMs) const {
    return OnvifVersionNamed(AddressesOf(job), job.UserName, job.Password, job.Mac, timeoutMs);
}

ImageChoice OnvifFamily::Images(const std::string&) const {
    ImageChoice choice;
    choice.NoImageCode = rc::kNoCameraImage;
    return choice;
}

FamilyTraits OnvifFamily::Traits(const UpgradeJob&) const {
    FamilyTraits t;
    t.Wait.WindowSeconds = kOnvifReturnMarginSeconds;
    t.Wait.AskEveryLooks = kAskEveryLooks;
    t.SameVersionFails = true;
    t.NeedsVersionAfter = true;
    t.AssumedDownSeconds = kAssumedDownSeconds;
    return t;
}

std::unique_ptr<IUpgradeSession> OnvifFamily::Open(UpgradeJob& job, const Clock&) const {
    return std::make_unique<OnvifSession>(job);
}
