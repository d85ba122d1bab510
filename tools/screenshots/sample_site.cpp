#include "sample_site.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>

#include "device/upgrade_progress.h"
#include "firmware/file_md5.h"
#include "firmware/firmware_catalog.h"
#include "schedule/schedule_file.h"
#include "ui/check_commands.h"
#include "ui/qt_text.h"
#include "ui/upgrade_page.h"

void SeedFirmwareStore(const QString& folder) {
    struct Series {
        const char* Name;
        const char* Model;
        bool Stored;
        bool Checked;
    };
    const Series series[] = {{"NVR-16 Series", "NVR-1600", true, false},
                             {"IPC-2 Series", "IPC-2140", true, true},
                             {"IPC-5 Series", "IPC-5260", false, true},
                             {"PTZ-9 Series", "PTZ-9320", false, false}};
    QString text = "<FirmwareList>";
    for (const Series& s : series) {
        const QString file = QString(s.Model) + ".bin";
        std::string md5 = "0123456789abcdef0123456789abcdef";
        if (s.Stored) {
            QFile image(QDir(folder).filePath(file));
            image.open(QIODevice::WriteOnly);
            image.write(QByteArray("\x04\x00\x00\x00", 4) + "fw01");
            image.close();
            ComputeFileMD5(ToStd(image.fileName()), md5);
        }
        text += QString(
                    "<Firmware Series=\"%1\" Model=\"%2\" HWVer=\"A\" FWVer=\"2.1.0\" "
                    "Filename=\"%3\" MD5=\"%4\" Size=\"4\"/>")
                    .arg(s.Name, s.Model, file, ToQ(md5));
    }
    CFirmwareCatalog catalog(ToStd(folder), "", [] { return false; });
    catalog.ReadLocalCatalog();
    catalog.ParseServerCatalog(ToStd(text + "</FirmwareList>"));
    for (const Series& s : series) {
        if (s.Stored) catalog.MarkDownloaded(s.Name, s.Model, "A", "2.1.0");
        catalog.SetChecked(s.Name, s.Checked);
    }
    catalog.SaveCatalog();
}

QString WriteSampleSchedule(const QString& folder) {
    const QDir dir(folder);
    dir.mkpath("images");
    QFile image(dir.filePath("images/NVR-1600_v2.4.1_build20240611_release.bin"));
    image.open(QIODevice::WriteOnly);
    image.write("QRBAversion=2.4.1\n");
    image.close();
    const std::string path = ToStd(image.fileName());
    const int64_t tonight =
        QDateTime(QDate::currentDate().addDays(1), QTime(2, 0)).toSecsSinceEpoch();
    const auto entry = [&](const char* name, int n, int64_t time, int status) {
        CScheduleInfo e;
        e.IP = "127.0.0." + std::to_string(100 + n);  // never due: no traffic, yet local
        e.Port = "80";
        e.Account = "admin";
        e.Password = "vqmtz";
        e.Device = name;
        e.Model = n % 2 ? "NVR-1600" : "NVR-800";
        e.MAC = "00:00:5E:00:53:" + std::to_string(10 + n);
        e.Version = "2.3.7";
        e.UpgradeTime = time;
        e.Status = status;
        e.FWPath = n == 4 ? ToStd(dir.filePath("moved/NVR-800_v2.4.1.bin")) : path;
        return e;
    };
    namespace st = schedule_status;
    const QString file = dir.filePath("fw_config.xml");
    SaveSchedule(ToStd(file), {entry("Gate North", 1, tonight - 86400, st::kSuccessful),
                               entry("Loading Bay Entrance", 2, tonight - 86400, st::kLoginFailed),
                               entry("Car Park East", 3, tonight - 86400, st::kNone),
                               entry("Warehouse 2", 4, tonight, st::kWaiting),
                               entry("Reception", 5, tonight, st::kWaiting),
                               entry("Roof West", 6, tonight + 1800, st::kWaiting)});
    return file;
}

namespace {

struct SampleDevice {
    const char* Name;
    const char* Model;
    const char* Address;
    const char* Version;
    bool Passed;
};

const SampleDevice kDevices[] = {{"Lobby", "NVR-1600", "198.18.1.1", "1.0.0", true},
                                 {"Yard", "NVR-800", "198.18.1.2", "", false},
                                 {"Gate North Camera", "PLX-420S", "198.18.1.10", "2.3.1", true}};

CIPCamInfo Record(const SampleDevice& sample) {
    CIPCamInfo record;
    record.DeviceId = sample.Address;
    record.DeviceName = sample.Name;
    record.ModelName = sample.Model;
    record.HostAddress = sample.Address;
    record.FirmwareVersion = sample.Version;
    record.Password = sample.Passed ? "vqmtz" : "";
    record.LoginOk = sample.Passed ? 1 : 0;
    return record;
}

}  // namespace

void ListSampleDevices(CUpgradePage& page) {
    for (const SampleDevice& sample : kDevices) {
        const CIPCamInfo record = Record(sample);
        page.DeviceCommand(command::kDeviceAddedByHand, record);
        page.DeviceCommand(sample.Passed ? command::kCheckPassed : command::kCheckFailed, record);
    }
}

void ShowSampleRun(CUpgradePage& page) {
    struct Report {
        int Stage;
        int Seconds;
        int Percent;
        int Code;
    };
    const Report reports[] = {{stage::kUploading, 0, 43, 0},
                              {stage::kFinished, 0, 100, -304},
                              {stage::kRunning, 212, 41, 0}};
    for (size_t i = 0; i < std::size(kDevices); ++i) {
        const CIPCamInfo record = Record(kDevices[i]);
        page.DeviceDispatched(record);
        const Report& r = reports[i];
        page.DeviceStatus(record.DeviceId, r.Stage, r.Seconds, r.Percent, r.Code);
    }
}
