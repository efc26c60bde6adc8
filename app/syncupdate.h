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

public slots:
    void para_sync(int code);

private:
    explicit SyncUpdate(QObject* parent = nullptr);
    void refreshPage(int code);
    // True when a requested mode was saved and became the current mode.
    bool saveRequestedMode();
    void showReadingWhileListing();
    void userModeBookkeeping();
    void saveRamIfChanged();
    // mode_save_requests as the last request served saw it (GUI thread).
    uint32_t served_requests_ = 0;
    ChangeMailbox mailbox_;
};
