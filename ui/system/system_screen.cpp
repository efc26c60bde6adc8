#include "ui/system/system_screen.h"

#include "core/global.h"
#include "core/logMsg.h"
#include "ui/shell/option.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/shell_globals.h"
#include "ui/system/card_job.h"

bool SystemScreen::jobActive() { return g_qround_bar || card_job::operation() != 0; }

bool SystemScreen::closeUnlessJob(const char* stayingOpen) {
    if (closing_) return false;
    // The ring is a child of this screen and the engine reports to it: a job's screen stays
    // until the job has ended, whoever asks to close it.
    if (jobActive()) {
        writeLogMsg(LOG_INFO, stayingOpen);
        return false;
    }
    closing_ = true;
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    return true;
}

void SystemScreen::settingsInFront() {
    if (g_option) g_option->language_changed();
    g_page_focus = 5;
}

void SystemScreen::reject() {
    if (closing_)
        QDialog::reject();
    else
        on_Button_back_clicked();
}
