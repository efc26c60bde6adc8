#pragma once
// Change notification on the GUI thread: refreshes the screen in front, shows the
// pop-up, carries out user-mode saves and deletions requested through the RAM and
// hands RAM 0x300..0xFFF to the parameter file's writer (core/ram_file_writer.h) when it
// differs from the shadow copy.
#include <QObject>

#include <cstdint>
#include <vector>

#include "core/change_mailbox.h"
#include "core/vlxrampara.h"

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
    // answered "done". `ram`, the stop's copy of the RAM (`requests`, the save requests counted
    // as it was taken): a save asked in RAM 0x364 and not yet carried out is served in it (0x364
    // cleared, the mode made current) and its mode added to `owed`.
    static void serveModeSaveAtStop(unsigned char* ram, uint32_t requests, std::vector<VlxRamPara::OwedMode>* owed);
    // The files register 11 bit 2 asked for and not yet kept, added to `owed` (a slot already
    // there keeps its entry: the save of step 2 comes after this bookkeeping's step 3).
    static void owedModeFilesAtStop(std::vector<VlxRamPara::OwedMode>* owed);

public slots:
    void para_sync(int code);

private:
    explicit SyncUpdate(QObject* parent = nullptr);
    void refreshPage(int code);
    // True when a requested mode was saved and became the current mode. The manage mutex is
    // waited for as long as it takes (waitMs < 0), or at most waitMs.
    static bool saveRequestedMode(int waitMs = -1);
    void showReadingWhileListing();
    static void userModeBookkeeping();
    void saveRamIfChanged();
    ChangeMailbox mailbox_;
};
