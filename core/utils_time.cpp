#include <cerrno>
#include <ctime>

#include "core/global.h"
#include "core/utils.h"
#include "platform/platform.h"

QMutex Utils::_system_mutex;
QMutex Utils::_spi_mutex;
QMutex Utils::_c331_bnk_mutex;
QMutex Utils::_file_deal_mutex;
QMutex Utils::_test_signal_mutex;
QMutex Utils::_source_init_mutex;
QMutex Utils::_source_hdminfo_mutex;
QMutex Utils::_check_nosig_mutex;
QMutex Utils::_fpga_multicast_mutex;
QMutex Utils::_bri_set_mutex;
QMutex Utils::_led_para_init_mutex;
QMutex Utils::_usleep_mutex;
QMutex Utils::_settings_mutex;

unsigned int Utils::getTimeSpace(unsigned int start) {
    const unsigned int now = G_timeTicks.load(std::memory_order_relaxed);
    unsigned int span = now - start;
    if (now < start) span -= 1;  // the counter wrapped
    return span;
}

int Utils::usleep_mutex(unsigned int us) {
    QMutexLocker lock(&_usleep_mutex);
    plat::sleepUs(us);
    return 0;
}

int Utils::msleep_mutex(unsigned int ms) { return usleep_mutex(1000 * ms); }
