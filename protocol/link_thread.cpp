#include "protocol/link_thread.h"

#include <system_error>

#include "core/logMsg.h"
#include "platform/lock_check.h"
#include "platform/platform.h"
#include "platform/waits.h"

bool link_thread::start(const std::string& name, const char* threadName, std::function<void()> body) {
    stop_ = false;
    try {
        thread_ = std::thread([threadName = std::string(threadName), body = std::move(body)] {
            plat::nameThisThread(threadName.c_str());
            body();
        });
    } catch (const std::system_error& e) {
        writeLogMsg(LOG_ERROR, name + " thread not started: " + e.what());
        return false;
    }
    return true;
}

void link_thread::stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    wake_.wake();
    plat::joinThread(thread_);   // the link's last frame
}
