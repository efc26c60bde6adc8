#include "protocol/networkmanage.h"

#include <QMutexLocker>

#include "core/global.h"
#include "core/utils.h"

networkManage* networkManage::p_networkManage = nullptr;

networkManage* networkManage::pInstance() {
    if (p_networkManage) return p_networkManage;
    p_networkManage = new networkManage;
    int port;
    {
        plat::Locker<plat::QtMutex> l(Utils::_settings_mutex);
        port = g_port;
    }
    if (p_networkManage->server_.listen(port))
        p_networkManage->thread_.start("TCP", "ctl-tcp", [] { p_networkManage->acceptThread(); });
    return p_networkManage;
}

void networkManage::resetInstanceForTest() {
    if (!p_networkManage) return;
    p_networkManage->thread_.stop();
    delete p_networkManage;
    p_networkManage = nullptr;
}

void networkManage::acceptThread() {
    while (!thread_.stopping()) {
        if (!server_.recvData(1000, thread_.wakeFd())) thread_.drainWake();
    }
}
