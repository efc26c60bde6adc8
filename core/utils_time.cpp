#include <cerrno>
#include <ctime>

#include "core/global.h"
#include "core/utils.h"
#include "platform/platform.h"

plat::QtMutex Utils::_system_mutex;
plat::QtMutex Utils::_spi_mutex;
plat::QtMutex Utils::_c331_bnk_mutex;
plat::QtMutex Utils::_file_deal_mutex;
plat::QtMutex Utils::_test_signal_mutex;
plat::QtMutex Utils::_source_init_mutex;
plat::QtMutex Utils::_source_hdminfo_mutex;
plat::QtMutex Utils::_check_nosig_mutex;
plat::QtMutex Utils::_bri_set_mutex;
plat::QtMutex Utils::_led_para_init_mutex;
plat::QtMutex Utils::_usleep_mutex;
plat::QtMutex Utils::_settings_mutex;

unsigned int Utils::getTimeSpace(unsigned int start) {
    const unsigned int now = G_timeTicks.load(std::memory_order_relaxed);
    unsigned int span = now - start;
    if (now < start) span -= 1;  // the counter wrapped
    return span;
}

namespace {
int fromBcd(unsigned char b) { return (b >> 4) > 9 || (b & 0x0F) > 9 ? -1 : (b >> 4) * 10 + (b & 0x0F); }
bool leapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
}  // namespace

bool Utils::clockFromBcd(const unsigned char bcd[7], ClockTime* out) {
    int v[7];
    for (int i = 0; i < 7; ++i)
        if ((v[i] = fromBcd(bcd[i])) < 0) return false;
    const ClockTime t{v[1] * 100 + v[0], v[2], v[3], v[4], v[5], v[6]};
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.year < kClockFirstYear || t.year > kClockLastYear || t.month < 1 || t.month > 12) return false;
    const int days = kDays[t.month - 1] + (t.month == 2 && leapYear(t.year) ? 1 : 0);
    if (t.day < 1 || t.day > days || t.hour > 23 || t.minute > 59 || t.second > 59) return false;
    *out = t;
    return true;
}

QString Utils::dateCommand(const ClockTime& t) {
    // Only digits of a checked time reach the shell.
    return QStringLiteral("date \"%1-%2-%3 %4:%5:%6\"")
        .arg(t.year)
        .arg(t.month)
        .arg(t.day)
        .arg(t.hour)
        .arg(t.minute)
        .arg(t.second);
}

int Utils::usleep_mutex(unsigned int us) {
    plat::Locker<plat::QtMutex> lock(_usleep_mutex);
    plat::sleepUs(us);
    return 0;
}

int Utils::msleep_mutex(unsigned int ms) { return usleep_mutex(1000 * ms); }

namespace {
// The names of Utils' locks in the lock table, by address: their declarations carry none.
const bool kUtilsLocksNamed = [] {
    using plat::Lock;
    const std::pair<const void*, Lock> names[] = {
        {&Utils::_system_mutex, Lock::System},
        {&Utils::_spi_mutex, Lock::Spi},
        {&Utils::_c331_bnk_mutex, Lock::C331Bank},
        {&Utils::_file_deal_mutex, Lock::FileDeal},
        {&Utils::_test_signal_mutex, Lock::TestSignal},
        {&Utils::_source_init_mutex, Lock::SourceInit},
        {&Utils::_source_hdminfo_mutex, Lock::SourceHdmiInfo},
        {&Utils::_check_nosig_mutex, Lock::CheckNoSig},
        {&Utils::_bri_set_mutex, Lock::BriSet},
        {&Utils::_led_para_init_mutex, Lock::LedParaInit},
        {&Utils::_usleep_mutex, Lock::Usleep},
        {&Utils::_settings_mutex, Lock::Settings},
    };
    for (const auto& n : names) plat::lockcheck::nameLock(n.first, n.second);
    return true;
}();
}  // namespace
