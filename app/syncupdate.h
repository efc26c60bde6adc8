#pragma once
// Change notification on the GUI thread: refreshes the screen in front, shows the
// pop-up, carries out user-mode saves and deletions requested through the RAM and
// hands RAM 0x300..0xFFF to the parameter file's writer (core/ram_file_writer.h) when it
// differs from the shadow copy.
#include <QObject>

#include <cstdint>

#include "core/change_mailbox.h"

class SyncUpdate : public QObject {
    Q_OBJECT
public:
    static SyncUpdate* pInstance();
    static SyncUpdate* p_SyncUpdate;   // GUI thread (created by start-up)

    // Change codes of `sender`'s `signal` come through notify(), from whichever thread emits them.
    template <class Sender>
    void follow(Sender* sender, void (Sender::*signal)(int)) {
        connect(sender, signal, this, &SyncUpdate::notify, Qt::DirectConnection);
    }
    // A change code from any thread. On the GUI thread the change is handled at once; from
    // another it waits in the mailbox, once per code however often it comes, and the GUI
    // thread handles it when its turn in the event queue comes.
    void notify(int code);
    size_t waitingCodes() const { return mailbox_.waiting(); }

    // The program's last save (app/stop_save.h, which orders it), on whichever thread ends the
    // program: what the change notification has not yet carried out of the user-mode requests
    // answered "done", as the notification would. The save asked in RAM 0x364 (true when
    // saved and made the current mode), waiting at most waitMs for the manage mutex:
    static bool keepModeSaveAtStop(int waitMs);
    // The files register 11 bit 2 asked for, each as stop_save::mayWriteFile lets it.
    static void keepModeFilesAtStop();

public slots:
    void para_sync(int code);

private:
    explicit SyncUpdate(QObject* parent = nullptr);
    void refreshPage(int code);
    // True when a requested mode was saved and became the current mode. The manage mutex is
    // waited for as long as it takes (waitMs < 0), or at most waitMs.
    static bool saveRequestedMode(int waitMs = -1);
    void showReadingWhileListing();
    // atStop: the slots whose files were kept for the requests counted so far are left as they are.
    static void userModeBookkeeping(bool atStop = false);
    void saveRamIfChanged();
    ChangeMailbox mailbox_;
};
