#pragma once
// What the two system screens (advanced settings, smart mapping) share: the requests a link
// thread makes of them after a PC stored or deleted a receiving-card file, and Back's way out
// to the settings menu, which a running receiving-card job holds shut.
#include <QApplication>
#include <QDialog>
#include <QPointer>

#include "core/change_mailbox.h"

class SystemScreen : public QDialog {
public:
    using QDialog::QDialog;
    // Back's handler (the form's Back, Esc, the idle return and the protocol's close).
    virtual void on_Button_back_clicked() = 0;

protected:
    // A ring is up or the job block holds a job: the screen stays, and the job's inputs stay as
    // they are.
    static bool jobActive();

    // From any thread: `request` waits for the GUI thread once, however fast a PC sends, and
    // serve(request) takes it there. One mailbox per kind of screen.
    template <class Screen>
    static void postRequest(int request, void (*serve)(int)) {
        static ChangeMailbox box;
        box.postTo(qApp, request, serve);
    }

    // Back: refused (and logged as `stayingOpen`) while a job runs; otherwise the screen closes
    // once, leaves its g_ pointer, and the settings menu is in front again.
    template <class Screen>
    void backToSettings(QPointer<Screen>& slot, const char* stayingOpen) {
        if (!closeUnlessJob(stayingOpen)) return;
        if (slot == static_cast<Screen*>(this)) slot = nullptr;
        settingsInFront();
    }

    // Esc and the window's close go the way of Back, with its refusal.
    void reject() override;

private:
    bool closeUnlessJob(const char* stayingOpen);
    static void settingsInFront();
    bool closing_ = false;
};
