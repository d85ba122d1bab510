#include "families/maker/maker_family.h"

#include "base/result_codes.h"
#include "base/text.h"
#include "base/trace.h"
#include "device/upgrade_progress.h"
#include "discovery/bc_multicast_search.h"
#include "families/maker/job_exchanges.h"
#include "families/maker/maker_login.h"
#include "families/maker/maker_models.h"
#include "web/device_queries.h"
#include "web/web_client.h"

namespace {

// The NVR form: a countdown of six minutes, cut to ten seconds once the device is back.
FamilyTraits NvrTraits() {
    FamilyTraits t;
    t.Wait.WindowSeconds = 360;
    t.Wait.SettleSeconds = 10;
    t.Wait.NvrCountdown = true;
    return t;
}

// The "PLX-420S" form: 340 seconds per image on the estimate (the upload 150, the
// return 150, whose first 30 pass before the device is looked for, the settling 10),
// every image installed, each followed by its return.
FamilyTraits FirmwareCgiTraits() {
    FamilyTraits t;
    t.Wait.PauseSeconds = 30;
    t.Wait.WindowSeconds = 120;
    t.Wait.AskEveryLooks = 10;
    t.Wait.SettleSeconds = 10;
    t.Wait.SettleAlways = true;
    t.InstallsEveryImage = true;
    t.PrepareFailStage = stage::kUploadEnded;
    t.BudgetPerImage = 340;
    t.BudgetUploadSeconds = 150;
    t.MarginOneImage = 10;
    t.MarginSeveralImages = 55;
    t.ExtraAfterSeveral = 45;
    return t;
}

bool UsesFirmwareCgi(const UpgradeJob& job) {
    return job.SingleModel != 0 || MakerModelOf(job.Model).Form == MakerForm::FirmwareCgi;
}

class MakerSession final : public IUpgradeSession {
public:
    explicit MakerSession(UpgradeJob& job) : job_(job), firmwareCgi_(UsesFirmwareCgi(job)) {}

    int Prepare() override { return firmwareCgi_ ? PrepareUpgrade(job_) : VerifyJobLogin(job_); }

    int CheckMac(const std::string& mac, std::string& version) override {
        constexpr int kIdentityTimeoutMs = 2000;
        std::string answer;
        const int code = AskSystemList(job_.Address().Scheme, kIdentityTimeoutMs, answer);
        if (code != rc::kOk) {
            Trace("upgrade of %s: the device at %s did not answer its system list (%d)",
                  job_.DeviceId.c_str(), job_.Address().Host.c_str(), code);
            return code;
        }
        // Trimmed: a device that ends its lines with "\r\n" still names the same MAC.
        const std::string named = ToUpperAscii(Trim(MacAddressIn(answer)));
        if (named.empty() || named != ToUpperAscii(Trim(mac))) {
            Trace("upgrade of %s: the device at %s names MAC '%s'; nothing is sent",
                  job_.DeviceId.c_str(), job_.Address().Host.c_str(), named.c_str());
            return rc::kFailed;
        }
        version = FirmwareVersionIn(answer);
        return rc::kOk;
    }

    int UploadFront(std::stop_token stop) override {
        return firmwareCgi_ ? UploadFrontImageFirmwareCgi(job_, std::move(stop))
                            : UploadFrontImageCgiMain(job_, {}, std::move(stop));
    }

    int Attempts() const override { return 2; }

    bool Ask(int attempt, int timeoutMs, ReturnWatch& watch) override {
        std::string answer;
        lastAsk_ = AskSystemList(attempt == 0 ? "http" : "https", timeoutMs, answer);
        if (lastAsk_ != rc::kOk && lastAsk_ != rc::kHttpUnauthorized &&
            lastAsk_ != rc::kHttpNotFound) {
            return false;
        }
        // Another device took the address (a DHCP lease handed on while ours restarted):
        // ours is not there.
        if (lastAsk_ == rc::kOk && NamesAnotherMac(MacAddressIn(answer), job_.Mac)) return false;
        watch.Answered(lastAsk_ == rc::kOk ? FirmwareVersionIn(answer) : std::string());
        return true;
    }

    int LastAsk() const override { return lastAsk_; }

private:
    int AskSystemList(const std::string& scheme, int timeoutMs, std::string& answer) const {
        const JobAddress at = job_.Address();
        return HttpGetText(job_.UserName, job_.Password, SystemListUrl(scheme, at.Host, at.Port),
                           timeoutMs, answer);
    }

    UpgradeJob& job_;
    const bool firmwareCgi_;
    int lastAsk_ = rc::kOk;
};

}  // namespace

std::unique_ptr<CSearch> MakerFamily::MakeSearch() const {
    auto search = std::make_unique<CBCMulticastSearch>();
    // The maker's multicast is answered by other vendors' devices too; only its own are
    // upgraded through it.
    search->SetVendorList({kAcceptedVendor});
    return search;
}

CheckOutcome MakerFamily::CheckLogin(CIPCamInfo& record) const { return CheckMakerLogin(record); }

std::string MakerFamily::WebPage(const CIPCamInfo& record) const {
    return BuildLoginPageUrl(record);
}

std::string MakerFamily::VersionNamedBy(const UpgradeJob& job, int timeoutMs) const {
    // Asked where it was reached first, then over the other scheme.
    const JobAddress at = job.Address();
    const std::string other = at.Scheme == "https" ? "http" : "https";
    std::string version = MakerVersionNamed(at.Scheme, at.Host, at.Port, job.UserName, job.Password,
                                            job.Mac, timeoutMs);
    if (version.empty()) {
        version = MakerVersionNamed(other, at.Host, at.Port, job.UserName, job.Password, job.Mac,
                                    timeoutMs);
    }
    return version;
}

ImageChoice MakerFamily::Images(const std::string& model) const {
    const MakerModel row = MakerModelOf(model);
    ImageChoice choice;
    choice.NoImageCode = rc::kNoNewerImage;
    choice.SingleModel = row.Form == MakerForm::FirmwareCgi ? 1 : 0;
    return choice;
}

FamilyTraits MakerFamily::Traits(const UpgradeJob& job) const {
    return UsesFirmwareCgi(job) ? FirmwareCgiTraits() : NvrTraits();
}

std::unique_ptr<IUpgradeSession> MakerFamily::Open(UpgradeJob& job, const Clock&) const {
    return std::make_unique<MakerSession>(job);
}
