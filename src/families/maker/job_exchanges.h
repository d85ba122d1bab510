#pragma once

#include <stop_token>
#include <string>

#include "families/maker/cgi_main_upload.h"
#include "pipeline/upgrade_job.h"

// The exchanges an upgrade worker runs against its job's device. Each blocks the
// calling thread and returns a result code.

// The "PLX-420S" models' preparation request, beforeupgrade.cgi, with the job's
// credentials (30000 ms): the web client's code, 0 on HTTP 200.
int PrepareUpgrade(const UpgradeJob& job);

// Logs in through the NVR's log-in form (NVR web session, 10000 ms): 0 accepted, -304
// refused or unreachable. The job form checks the job's address and credentials.
int VerifyNvrLogin(const std::string& scheme, const std::string& host, int port,
                   const std::string& user, const std::string& password);
int VerifyJobLogin(const UpgradeJob& job);

// The upload step of the NVR family: takes the front image off the job's queue, sends
// it with UploadCgiMain to the job's device, with the job's ImageSize and BytesSent as
// the progress outputs, and stores the code in Result (also returned). A stop request
// ends the upload with -6.
int UploadFrontImageCgiMain(UpgradeJob& job, const CgiMainLimits& limits = {},
                            std::stop_token stop = {});

// The upload step of the "PLX-420S" models: takes the front image off the job's queue,
// sends it with UploadFirmwareCgi under its own file name, and stores the code in
// Result (also returned). A stop request ends the upload with -6.
int UploadFrontImageFirmwareCgi(UpgradeJob& job, std::stop_token stop = {});
