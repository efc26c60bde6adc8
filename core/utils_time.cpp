#include <cerrno>
#include <ctime>

#include "core/global.h"
#include "core/utils.h"
#include "platform/platform.h"

plat::QtMutex Utils::_system_mutex{plat::Lock::System};
plat::QtMutex Utils::_spi_mutex{plat::Lock::Spi};
plat::QtMutex Utils::_c331_bnk_mutex{plat::Lock::C331Bank};
plat::QtMutex Utils::_file_deal_mutex{plat::Lock::FileDeal};
plat::QtMutex Utils::_test_signal_mutex{plat::Lock::TestSignal};
plat::QtMutex Utils::_source_init_mutex{plat::Lock::SourceInit};
plat::QtMutex Utils::_source_hdminfo_mutex{plat::Lock::SourceHdmiInfo};
plat::QtMutex Utils::_check_nosig_mutex{plat::Lock::CheckNoSig};
plat::QtMutex Utils::_bri_set_mutex{plat::Lock::BriSet};
plat::QtMutex Utils::_led_para_init_mutex{plat::Lock::LedParaInit};
plat::QtMutex Utils::_settings_mutex{plat::Lock::Settings};

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

