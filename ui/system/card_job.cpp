#include "ui/system/card_job.h"

#include <QApplication>
#include <QDialog>

#include "core/global.h"
#include "core/logMsg.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/shell_globals.h"
#include "fpga/engine_events.h"
#include "scaler/engine_requests.h"
#include "ui/system/advancedoption.h"
#include "ui/system/smartmapping.h"
#include "ui/system/system_links.h"

namespace card_job {

namespace {

QStringList& unansweredList() {
    static QStringList list;   // GUI thread only (the engine's report crosses with onGuiThread)
    return list;
}

}  // namespace

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
    // what an earlier job left unanswered is no news about this one
    unansweredList().clear();
    QRoundProgressBar::create_qround_bar(screen);
    if (g_qround_bar)
        QObject::connect(screen, SIGNAL(sig_qround_bar_update(int)), g_qround_bar, SLOT(para_sync(int)),
                         Qt::QueuedConnection);
    // the step, then the operation: the FPGA thread starts a job only once it sees the operation
    job_block::setU8(job_block::kStep, 0);
    job_block::setU8(job_block::kOperation, op);
    engine_requests::fpgaOwner.wake();
    writeLogMsg(LOG_INFO, std::string("receiving-card job ") + std::to_string(op) + " handed to the FPGA engine");
    return true;
}

namespace {

// Runs `call` on the GUI thread, after what the engine reported before it.
template <class F>
void onGuiThread(F call) {
    if (QCoreApplication* app = QCoreApplication::instance()) QMetaObject::invokeMethod(app, call, Qt::QueuedConnection);
}

}  // namespace

void linkEngine() {
    EngineEvents& events = engineEvents();
    events.jobProgress = [](int percent) {
        onGuiThread([percent] {
            // the ring is a child of the screen that handed the job over
            QObject* owner = g_qround_bar ? g_qround_bar->parent() : nullptr;
            if (g_smartmapping && owner == g_smartmapping.data())
                emit g_smartmapping->sig_qround_bar_update(percent);
            else if (g_advancedoption && owner == g_advancedoption.data())
                emit g_advancedoption->sig_qround_bar_update(percent);
        });
    };
    events.checkReport = [](const std::vector<std::string>& list, bool valid) {
        QStringList entries;
        if (valid)
            for (const std::string& s : list) entries << QString::fromStdString(s);
        AdvancedOption::reportRcvUpdate(entries);
    };
    events.jobFailed = [](uint8_t op, const std::string&) {
        if (op != kLoadScan) return;
        onGuiThread([] {
            if (g_smartmapping) g_smartmapping->loadFailed();
        });
    };
    events.jobUnanswered = [](const std::string& job, const std::vector<std::string>& where) {
        QStringList entries;
        for (const std::string& s : where) entries << QString::fromStdString(job + ": " + s);
        onGuiThread([entries] { unansweredList() = entries; });
    };
}

QStringList unanswered() { return unansweredList(); }

void setU32(unsigned offset, uint32_t value) { job_block::setU32(offset, value); }

uint16_t u16(unsigned offset) { return job_block::u16(offset); }

}  // namespace card_job
