#include "families/maker/job_exchanges.h"

#include "base/result_codes.h"
#include "base/text.h"
#include "families/maker/firmware_cgi_upload.h"
#include "web/clfx_quor_client.h"
#include "web/web_client.h"

namespace {

constexpr int kPrepareTimeoutMs = 30000;
constexpr uint32_t kLoginTimeoutMs = 10000;

std::string JobUrl(const JobAddress& address, const char* path) {
    return StrFormat("%s://%s:%d%s", address.Scheme.c_str(), address.Host.c_str(), address.Port,
                     path);
}

}  // namespace

int PrepareUpgrade(const UpgradeJob& job) {
    std::string answer;
    return HttpGetText(job.UserName, job.Password,
                       JobUrl(job.Address(), "/cgi-bin/admin/beforeupgrade.cgi"), kPrepareTimeoutMs,
                       answer);
}

int VerifyNvrLogin(const std::string& scheme, const std::string& host, int port,
                   const std::string& user, const std::string& password) {
    CLFX::CLFXQuorClient session;
    session.SetTimeout(kLoginTimeoutMs);
    session.SetTls(scheme == "https");
    session.Connect(host, port);
    session.AddHeader("Connection: Keep-Alive");
    session.AddHeader("Content-Type: Application/x-www-form-urlencoded");
    const bool accepted = session.Login(user, password, true);
    session.Close();
    return accepted ? rc::kOk : rc::kLoginRefused;
}

int VerifyJobLogin(const UpgradeJob& job) {
    const JobAddress address = job.Address();
    return VerifyNvrLogin(address.Scheme, address.Host, address.Port, job.UserName, job.Password);
}

int UploadFrontImageCgiMain(UpgradeJob& job, const CgiMainLimits& limits, std::stop_token stop) {
    const std::string image = job.TakeFrontImage();
    const int result =
        UploadCgiMain(job.UserName, job.Password, JobUrl(job.Address(), "/cgi-bin/cgi_main.cgi"),
                      image, job.ImageSize, job.BytesSent, limits, std::move(stop));
    job.Result = result;
    return result;
}

int UploadFrontImageFirmwareCgi(UpgradeJob& job, std::stop_token stop) {
    const std::string image = job.TakeFrontImage();
    const std::string fileName = ImageFileName(image);
    const JobAddress address = job.Address();
    std::string answer;
    const int result =
        UploadFirmwareCgi(job.UserName, job.Password,
                          FirmwareUpgradeUrl(address.Scheme, address.Host, address.Port, fileName),
                          image, fileName, answer, std::move(stop));
    job.Result = result;
    return result;
}
