#include "ui/system/card_job.h"

#include <QDialog>

#include "core/global.h"
#include "core/logMsg.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/shell_globals.h"
#include "ui/system/system_links.h"

namespace card_job {

uint8_t operation() { return __atomic_load_n(&g_send_para[0], __ATOMIC_ACQUIRE); }

Refusal refusal() {
    if (g_qround_bar) return Refusal::RingUp;
    if (operation() != 0) return Refusal::JobInBlock;
    const SystemLinks& links = systemLinks();
    if (!links.cardJobRunner || !links.cardJobRunner()) return Refusal::NoRunner;
    return Refusal::Ok;
}

const char* refusalText(Refusal r) {
    switch (r) {
    case Refusal::RingUp:
        return "a job's progress ring is up";
    case Refusal::JobInBlock:
        return "the FPGA engine has not finished its job";
    case Refusal::NoRunner:
        return "the FPGA engine is not running";
    case Refusal::Ok:
        break;
    }
    return "";
}

bool start(QDialog* screen, uint8_t op) {
    const Refusal r = refusal();
    if (r != Refusal::Ok) {
        writeLogMsg(LOG_WARNING, std::string("receiving-card job ") + std::to_string(op) + " refused: " + refusalText(r));
        return false;
    }
    QRoundProgressBar::create_qround_bar(screen);
    if (g_qround_bar)
        QObject::connect(screen, SIGNAL(sig_qround_bar_update(int)), g_qround_bar, SLOT(para_sync(int)),
                         Qt::QueuedConnection);
    // the step, then the operation: the FPGA thread starts a job only once it sees the operation
    __atomic_store_n(&g_send_para[1], uint8_t(0), __ATOMIC_RELEASE);
    __atomic_store_n(&g_send_para[0], op, __ATOMIC_RELEASE);
    writeLogMsg(LOG_INFO, std::string("receiving-card job ") + std::to_string(op) + " handed to the FPGA engine");
    return true;
}

void setU32(unsigned offset, uint32_t value) {
    for (unsigned i = 0; i < 4; ++i) g_send_para[offset + i] = uint8_t(value >> (8 * i));
}

uint16_t u16(unsigned offset) { return uint16_t(g_send_para[offset] | (g_send_para[offset + 1] << 8)); }

}  // namespace card_job
