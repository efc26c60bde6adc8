// Check codes, the serialised shell runner, and small text and file helpers.
#include "core/utils.h"

#include <dirent.h>
#include <iconv.h>
#include <sys/stat.h>

#include <QMutexLocker>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <sstream>
#include <vector>

#include "core/logMsg.h"
#include "platform/platform.h"
#include "platform/shell.h"

namespace {

// Byte tables of the reflected (LSB-first) CRCs, built at compile time.
template <typename T>
constexpr std::array<T, 256> reflectedTable(T poly) {
    std::array<T, 256> table{};
    for (unsigned n = 0; n < 256; ++n) {
        T c = static_cast<T>(n);
        for (int k = 0; k < 8; ++k) c = (c & 1) ? static_cast<T>((c >> 1) ^ poly) : static_cast<T>(c >> 1);
        table[n] = c;
    }
    return table;
}

constexpr auto kCrc32Table = reflectedTable<uint32_t>(0xEDB88320u);  // IEEE 802.3
constexpr auto kCrc16Table8408 = reflectedTable<uint16_t>(0x8408);   // CCITT, reflected
constexpr auto kCrc16TableA001 = reflectedTable<uint16_t>(0xA001);   // ARC

uint16_t crc16Reflected(const std::array<uint16_t, 256>& table, uint16_t crc, const unsigned char* data,
                        unsigned int length) {
    for (unsigned int i = 0; i < length; ++i)
        crc = static_cast<uint16_t>((crc >> 8) ^ table[(crc ^ data[i]) & 0xFF]);
    return crc;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A word for the shell: plain when it is harmless, quoted otherwise. A leading '-'
// would still be taken as an option after quoting, so such a name is anchored with "./".
std::string shellWord(const std::string& word) {
    std::string w = (!word.empty() && word[0] == '-') ? "./" + word : word;
    return plat::isShellSafeWord(w) ? w : plat::shellQuote(w);
}

}  // namespace

unsigned char Utils::BCC(const unsigned char* data, unsigned int length) {
    unsigned char x = 0;
    for (unsigned int i = 0; i < length; ++i) x ^= data[i];
    return x;
}

unsigned int Utils::calcCRC32(const unsigned char* data, unsigned int length) {
    // Initial value 0 and no final inversion: the frames' CRC, not zlib's.
    uint32_t crc = 0;
    for (unsigned int i = 0; i < length; ++i) crc = kCrc32Table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

unsigned short Utils::teskCalcCRC16(const unsigned char* data, unsigned int length) {
    return crc16Reflected(kCrc16Table8408, 0xFFFF, data, length);
}

unsigned short Utils::calcCRC16(const unsigned char* data, unsigned int length) {
    return crc16Reflected(kCrc16TableA001, 0, data, length);
}

unsigned short Utils::zuf1CRC16Code(const unsigned char* data, unsigned int length) {
    uint16_t crc = 0;
    for (unsigned int i = 0; i < length; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int k = 0; k < 8; ++k)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

int Utils::system_mutex(const QString& command, int* status) {
    static plat::Mutex runner{plat::Lock::ShellRunner};  // the runner's alone: see utils.h
    plat::Locker<plat::Mutex> lock(runner);
    plat::lockcheck::waitPoint(plat::Wait::Shell);
    const int raw = plat::shell().system(command.toLatin1().toStdString());
    if (status) *status = raw;
    return raw == 0 ? 0 : 255;
}

void Utils::stopProgram(const std::string& program) {
    std::string output;
    if (plat::shell().popen("pidof " + program, &output) != 0) return;  // not running
    std::istringstream in(output);
    std::string word;
    while (in >> word) {
        bool digits = !word.empty() && word.size() <= 10;
        for (char c : word) digits = digits && c >= '0' && c <= '9';
        if (digits) system_mutex(QString::fromStdString("kill -9 " + word));
    }
}

int Utils::stringToInt(const std::string& text) {
    // Unsigned arithmetic: overlong input wraps instead of overflowing.
    uint32_t value = 0;
    if (text.size() > 2 && text[0] == '0' && text[1] == 'x' && hexDigit(text[2]) >= 0) {
        for (size_t i = 2; i < text.size(); ++i) {
            const int d = hexDigit(text[i]);
            if (d < 0) break;
            value = value * 16u + static_cast<uint32_t>(d);
        }
    } else {
        for (char c : text) value = value * 10u + static_cast<uint32_t>((c >= '0' && c <= '9') ? c - '0' : 0);
    }
    return static_cast<int>(value);
}

std::string Utils::intToString(int value) { return std::to_string(value); }

int Utils::isFileExists(const std::string& path, bool regularOnly) {
    struct stat st;
    if (::stat(plat::path(path).c_str(), &st) != 0) return 0;
    if (regularOnly && !S_ISREG(st.st_mode)) return 0;
    return 1;
}

int Utils::isDirExists(const std::string& path) {
    struct stat st;
    return (::stat(plat::path(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? 1 : 0;
}

void Utils::get_file_list_smartpath(QStringList& list, const QString& dir, const QString& suffix) {
    list.clear();
    std::string base = dir.toStdString();
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    const std::string host = plat::path(base);
    DIR* d = ::opendir(host.c_str());
    if (!d) {
        writeLogMsg(LOG_WARNING, "file list: cannot open " + base);
        return;
    }
    const std::string want = suffix.toStdString();
    std::vector<std::string> names;
    while (struct dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        // lstat: a link is not followed, so it never counts as a regular file
        if (::lstat((host + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        const size_t dot = name.rfind('.');
        const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
        if (ext == want) names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    const std::string prefix = base == "/" ? "/" : base + "/";
    for (const std::string& n : names) list << QString::fromStdString(prefix + n);
}

void Utils::change_file_formt(const std::string& path) {
    if (!isFileExists(path, false)) return;
    // The device path goes into the commands; the runner roots it on the simulated board.
    const std::string word = shellWord(path);
    system_mutex(QString::fromStdString("dos2unix " + word));
    system_mutex(QStringLiteral("sync"));
    system_mutex(QString::fromStdString("sed -i 's/\\xEF\\xBB\\xBF//g' " + word));
    system_mutex(QStringLiteral("sync"));
}

int Utils::ChangeCode(const char* from, const char* to, const char* in, size_t inLen, char* out, size_t outLen) {
    if (!from || !to || !in || !out || outLen == 0) return -1;
    std::memset(out, 0, outLen);
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        writeLogMsg(LOG_ERROR, std::string("iconv: no conversion from ") + from + " to " + to);
        return -1;
    }
    // Two bytes stay zero so that the text is terminated even as UCS-2.
    size_t room = outLen > 2 ? outLen - 2 : 0;
    char* src = const_cast<char*>(in);
    size_t left = inLen;
    char* dst = out;
    int rc = 0;
    if (::iconv(cd, &src, &left, &dst, &room) == static_cast<size_t>(-1)) rc = -1;
    else if (::iconv(cd, nullptr, nullptr, &dst, &room) == static_cast<size_t>(-1)) rc = -1;  // flush shift state
    ::iconv_close(cd);
    if (rc != 0) std::memset(out, 0, outLen);  // no half-converted text
    return rc;
}

int Utils::GB2312ToUTF8(const char* in, size_t inLen, char* out, size_t outLen) {
    return ChangeCode("GB2312", "UTF-8", in, inLen, out, outLen);
}

int Utils::GB2312ToUnicode(const char* in, size_t inLen, char* out, size_t outLen) {
    return ChangeCode("GB2312", "UCS-2LE", in, inLen, out, outLen);
}

int Utils::UTF8ToUnicode(const char* in, size_t inLen, char* out, size_t outLen) {
    return ChangeCode("UTF-8", "UCS-2LE", in, inLen, out, outLen);
}

int Utils::UnicodeToUTF8(const char* in, size_t inLen, char* out, size_t outLen) {
    return ChangeCode("UCS-2LE", "UTF-8", in, inLen, out, outLen);
}

int Utils::UTF8ToGB2312(const char* in, size_t inLen, char* out, size_t outLen) {
    return ChangeCode("UTF-8", "GB2312", in, inLen, out, outLen);
}

int Utils::UnicodeToGB2312(const char* in, size_t inLen, char* out, size_t outLen) {
    return ChangeCode("UCS-2LE", "GB2312", in, inLen, out, outLen);
}
