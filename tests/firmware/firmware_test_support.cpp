#include "firmware_test_support.h"

#include <openssl/evp.h>

#include <algorithm>
#include <sstream>

#include "base/xml_attribute.h"
#include "firmware/firmware_catalog.h"

std::string Md5Of(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        static constexpr char kHex[] = "0123456789abcdef";
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

std::string StoredImage(const std::string& bytes) {
    const auto size = static_cast<uint32_t>(bytes.size());
    return std::string{static_cast<char>(size & 0xff), static_cast<char>((size >> 8) & 0xff),
                       static_cast<char>((size >> 16) & 0xff),
                       static_cast<char>((size >> 24) & 0xff)} +
           bytes;
}

std::string ServerCatalogText(const std::vector<CatalogRecord>& records) {
    std::ostringstream text;
    text << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FirmwareList>\n";
    for (const CatalogRecord& r : records) {
        text << "  <Firmware Series=\"" << XmlAttributeText(r.Series) << "\" ProductName=\""
             << XmlAttributeText(r.ProductName) << "\" Model=\"" << XmlAttributeText(r.Model)
             << "\" HWVer=\"" << XmlAttributeText(r.HWVer) << "\" FWVer=\""
             << XmlAttributeText(r.FWVer) << "\" Filename=\"" << XmlAttributeText(r.Filename)
             << "\" MD5=\"" << r.MD5 << "\" Size=\"" << r.Size << "\"/>\n";
    }
    text << "</FirmwareList>\n";
    return text.str();
}

CatalogRecord Record(const std::string& series, const std::string& model, const std::string& fwVer,
                     const std::string& file, const std::string& bytes,
                     const std::string& product) {
    CatalogRecord r;
    r.Series = series;
    r.ProductName = product;
    r.Model = model;
    r.HWVer = "H1";
    r.FWVer = fwVer;
    r.Filename = file;
    r.MD5 = Md5Of(bytes);
    r.Size = static_cast<int64_t>(bytes.size());
    return r;
}

void RecordingView::OnDownloadStatus(const std::string& series, int kind, int a, int b) {
    Add("status " + series + " " + std::to_string(kind) + " " + std::to_string(a) + " " +
        std::to_string(b));
}

void RecordingView::OnSeriesAdded(const std::string& series, bool selected) {
    if (callBack_) callBack_->AllImagesStored(series);
    Add("added " + series + (selected ? " 1" : " 0"));
}

void RecordingView::OnSeriesQueued(const std::string& series, bool nothingQueued) {
    Add("queued " + series + (nothingQueued ? " 1" : " 0"));
}

void RecordingView::AttachServices(CDownloadCoordinator*, CFirmwareCatalog* catalog) {
    callBack_ = catalog;
}

void RecordingView::Add(const std::string& event) {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
}

std::vector<std::string> RecordingView::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<std::string> RecordingView::EventsStartingWith(const std::string& prefix) const {
    std::vector<std::string> matching;
    for (const std::string& e : Events()) {
        if (e.rfind(prefix, 0) == 0) matching.push_back(e);
    }
    return matching;
}

int RecordingView::Count(const std::string& event) const {
    const auto events = Events();
    return static_cast<int>(std::count(events.begin(), events.end(), event));
}

int RecordingView::IndexOf(const std::string& event) const {
    const auto events = Events();
    const auto it = std::find(events.begin(), events.end(), event);
    return it == events.end() ? -1 : static_cast<int>(it - events.begin());
}

bool RecordingView::WaitFor(const std::string& event, std::chrono::milliseconds timeout) const {
    return WaitUntil([&] { return IndexOf(event) >= 0; }, timeout);
}

void RecordingView::Clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

FirmwareServerFixture::FirmwareServerFixture(const TempDir& folder, const std::string& extra)
    : sim_(std::make_unique<DevsimProcess>(std::vector<std::string>{
          "--firmware-server",
          "folder=" + folder.Path() + ",log=1" + (extra.empty() ? "" : "," + extra)})) {}

std::string FirmwareServerFixture::Base() const {
    return "http://127.0.0.1:" + std::to_string(sim_->FirmwareServerPort());
}

std::vector<std::string> FirmwareServerFixture::RangesAskedFor(const std::string& path) {
    // What devsim printed so far; a client that keeps asking must not keep this reading.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (std::chrono::steady_clock::now() < until) {
        auto line = sim_->Process().ReadLine(std::chrono::milliseconds(100));
        if (!line) break;
        lines_.push_back(*line);
    }
    std::vector<std::string> ranges;
    const std::string marker = " path=" + path + " range=";
    for (const std::string& line : lines_) {
        if (const size_t at = line.find(marker); at != std::string::npos) {
            ranges.push_back(line.substr(at + marker.size()));
        }
    }
    return ranges;
}
