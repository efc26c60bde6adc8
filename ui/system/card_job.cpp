#include "ui/system/card_job.h"

#include <QDialog>

#include "core/global.h"
#include "core/logMsg.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/shell_globals.h"
#include "ui/system/system_links.h"

namespace card_job {

uint8_t operation() { return job_block::operation(); }

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
    job_block::setU8(job_block::kStep, 0);
    job_block::setU8(job_block::kOperation, op);
    writeLogMsg(LOG_INFO, std::string("receiving-card job ") + std::to_string(op) + " handed to the FPGA engine");
    return true;
}

void setU32(unsigned offset, uint32_t value) { job_block::setU32(offset, value); }

uint16_t u16(unsigned offset) { return job_block::u16(offset); }

}  // namespace card_job
