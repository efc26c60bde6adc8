#include "protocol/cloud_text.h"

#include <QMutexLocker>
#include <QString>
#include <QVariant>

#include <cctype>
#include <mutex>
#include <string>

#include "core/data_files.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"

using namespace cloud;

namespace {

constexpr uint8_t kOk = ctl::kStatusOk;
constexpr uint8_t kRefused = ctl::kStatusRefused;
constexpr uint8_t kUnavailable = ctl::kStatusUnavailable;
constexpr uint8_t kBadRequest = ctl::kStatusBadRequest;
constexpr uint8_t kFailed = ctl::kStatusFailed;

// A single blank is how the INI file says "not set".
const std::string kBlank = " ";

bool printable(const std::string& s, bool multiLine) {
    for (unsigned char c : s) {
        if (c == 0x7F) return false;
        if (c < 0x20 && !(multiLine && (c == '\n' || c == '\r' || c == '\t'))) return false;
    }
    return true;
}

bool validValue(uint8_t item, const std::string& v) {
    if (v.empty() || v.size() > kMaxSettingText || !printable(v, false)) return false;
    if (v == kBlank) return true;
    switch (item) {
    case kItemServerAddress:  // a host name or an address
        for (unsigned char c : v)
            if (!(std::isalnum(c) || c == '.' || c == '-' || c == ':')) return false;
        return true;
    case kItemServerPort: {
        if (v.size() > 5) return false;
        for (unsigned char c : v)
            if (!std::isdigit(c)) return false;
        const long port = std::stol(v);
        return port >= 1 && port <= 65535;
    }
    default:
        return true;
    }
}

bool fileItem(uint8_t item, const char** path, size_t* max) {
    if (item == kItemBarcode) {
        *path = kBarcodeFile;
        *max = kMaxSettingText;
        return true;
    }
    if (item == kItemCaFile) {
        *path = kCaFile;
        *max = kMaxCaFile;
        return true;
    }
    return false;
}

void appendText(std::vector<uint8_t>& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }

}  // namespace

void cloud_text_deal(const uint8_t* p, size_t n, std::vector<uint8_t>& out) {
    if (n < 2 || (p[0] != kRead && p[0] != kWrite) || (p[0] == kRead && n != 2)) {
        out.push_back(kBadRequest);
        return;
    }
    const bool write = p[0] == kWrite;
    const uint8_t item = p[1];
    const std::string text(reinterpret_cast<const char*>(p + 2), n - 2);

    const char* path = nullptr;
    size_t max = 0;
    if (fileItem(item, &path, &max)) {
        std::unique_lock<plat::QtMutex> lock(Utils::_file_deal_mutex);
        if (!write) {
            std::string content;
            // None yet reads as an empty text.
            if (plat::readRegularFile(plat::path(path), max, plat::Oversize::Refuse, &content) ==
                plat::FileRead::Refused) {
                out.push_back(kFailed);
                return;
            }
            out.push_back(kOk);
            appendText(out, content);
            return;
        }
        if (text.size() > max || !printable(text, item == kItemCaFile) || (item == kItemBarcode && text.empty())) {
            out.push_back(kRefused);
            return;
        }
        lock.unlock();   // a reader waits for no flush; writers take turns
        plat::Locker<plat::Mutex> writers(dataFileWriters());
        plat::makeDirs("/data/configs");
        out.push_back(plat::replaceFileAtomically(plat::path(path), text) ? kOk : kFailed);
        return;
    }

    if (item < kItemServerAddress || item > kItemControllerName) {
        out.push_back(kRefused);
        return;
    }
    ConfigEngine* config = ConfigEngine::p_config;
    if (!config) {
        out.push_back(kUnavailable);
        return;
    }
    const auto id = static_cast<ConfigItem::ConfigName>(item);
    if (!write) {
        const QString value = config->read_config_variant(id).toString();
        out.push_back(kOk);
        appendText(out, value.toStdString());
        return;
    }
    if (!validValue(item, text)) {
        out.push_back(kRefused);
        return;
    }
    // Not in the file, not in force: a value that would be gone at restart is no change.
    if (!config->write_config_variant(id, QString::fromStdString(text))) {
        out.push_back(kFailed);
        return;
    }
    Utils::getIPAddress();  // the cloud globals follow the items
    writeLogMsg(LOG_INFO, "cloud setting " + std::to_string(item) + " changed");
    out.push_back(kOk);
}
