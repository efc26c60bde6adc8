#include "app/syncupdate.h"

#include <QThread>

#include <atomic>
#include <cstring>
#include <optional>

#include "app/stop_save.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/manage_lock.h"
#include "core/mode_file_requests.h"
#include "core/manage_within.h"
#include "core/ram_file_writer.h"
#include "core/vlxrampara.h"
#include "ui/input/custommode.h"
#include "ui/input/edidset.h"
#include "ui/input/imagelayout.h"
#include "ui/input/input_screens.h"
#include "ui/input/inputchoose.h"
#include "ui/input/inputcut.h"
#include "ui/output/imagequality.h"
#include "ui/output/linkoption.h"
#include "ui/output/outputset.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_globals.h"
#include "ui/shell/tip.h"
#include "ui/system/advancedoption.h"
#include "ui/system/smartmapping.h"

using namespace vlxram;

SyncUpdate* SyncUpdate::p_SyncUpdate = nullptr;

namespace {
// mode_save_requests as the last request served saw it: taken under the manage mutex by
// the GUI thread or the stop.
std::atomic<uint32_t> g_savesServed{0};
// Register 11 bit 2's requests (core/mode_file_requests.h) as the bookkeeping that last began
// saw them (the GUI thread, the stop).
std::atomic<uint32_t> g_filesKept{0};
// Per slot, 1 + the requests counted when its file was last kept (0: not yet): the stop, taking
// over from a notification it cut short, owes the rest.
std::atomic<uint32_t> g_slotKept[kModeSlots] = {};

// The word read at RAM 0x364 asks for a save not yet served: not one the parameter file brought
// back at start-up or one already served (in the shadow, and no new request since).
bool saveAsked(const VlxRamPara* p, uint16_t n, uint32_t requests) {
    return n != 0 && !(n == p->shadowU16(kModeSaveRequest) && requests == g_savesServed);
}
}  // namespace

SyncUpdate::SyncUpdate(QObject* parent) : QObject(parent) {}

SyncUpdate* SyncUpdate::pInstance() {
    if (!p_SyncUpdate) p_SyncUpdate = new SyncUpdate;
    return p_SyncUpdate;
}

void SyncUpdate::notify(int code) {
    if (QThread::currentThread() == thread()) {
        para_sync(code);
        return;
    }
    // One wake per code taken into the mailbox: the queue in front of the GUI thread holds no
    // more of them than there are distinct codes, and a widget deleted by a refresh scans a
    // short queue.
    mailbox_.postTo(this, code, [this](int next) { para_sync(next); });
}

void SyncUpdate::para_sync(int code) {
    if (!VlxRamPara::p_vlxrampara_config) return;
    refreshPage(code);
    // the home screen names the current mode, which the save has just changed
    if (saveRequestedMode() && g_page_focus.load() == 1 && g_mainwindow) g_mainwindow->syncUpdate();
    if (code == 2) userModeBookkeeping();
    saveRamIfChanged();
}

// The screen in front compares the RAM with the shadow of before this change, so the
// refresh comes before the save. Each screen adds its case here.
void SyncUpdate::refreshPage(int code) {
    (void)code;
    switch (g_page_focus.load()) {
    case 0:
        if (g_lockwindow) g_lockwindow->syncUpdate();
        break;
    case 1:
        if (g_mainwindow) {
            g_mainwindow->syncUpdate();
            if (g_mainwindow->mode_recall_flag) {
                g_mainwindow->mode_recall_flag = 0;
                if (g_tip) g_tip->tip_create(TIP::kDone);
            }
        }
        break;
    case 2:
        if (g_machinestate) g_machinestate->syncUpdate(code);
        break;
    case 3:
        if (g_inputchoose) g_inputchoose->syncUpdate(code);
        break;
    case 4:
        if (g_custommode) g_custommode->syncUpdate();
        if (g_tip) g_tip->tip_create(TIP::kDone);
        break;
    case 5:
        if (g_option) g_option->syncUpdate();
        break;
    case 6:
        if (g_outputset) g_outputset->syncUpdate();
        if (g_tip) g_tip->tip_create(TIP::kDone);
        break;
    case 7:
        if (g_inputcut) g_inputcut->syncUpdate(code);
        break;
    case 8:
        if (g_edidset) g_edidset->syncUpdate();
        break;
    case 9:
        if (g_imagelayout) g_imagelayout->syncUpdate();
        if (g_tip) g_tip->tip_create(TIP::kDone);
        break;
    case 10:
        if (code == 102) showReadingWhileListing();
        if (g_linkoption) g_linkoption->syncUpdate(code);
        if (g_tip) {
            if (code == 100)
                g_tip->tip_create(TIP::kUsbConnected);
            else if (code == 101)
                g_tip->tip_create(TIP::kUsbUnplugged);
            else if (code == 102)
                g_tip->tip_create(TIP::kClear);  // the stick's files are listed
            else if (code != 104)
                g_tip->tip_create(TIP::kDone);
        }
        break;
    case 11:
        if (g_imagequality) g_imagequality->syncUpdate();
        break;
    case 12:
        if (g_advancedoption) g_advancedoption->syncUpdate(code);
        if (g_tip) g_tip->tip_create(TIP::kDone);
        break;
    case 24:
        if (code == 102) showReadingWhileListing();
        if (g_smartmapping) g_smartmapping->syncUpdate(code);
        if (g_tip) {
            if (code == 100) g_tip->tip_create(TIP::kUsbConnected);
            if (code == 101) g_tip->tip_create(TIP::kUsbUnplugged);
            if (code == 102) g_tip->tip_create(TIP::kClear);  // the stick's files are listed
        }
        break;
    default:
        // No screen of its own (test patterns and the unused numbers): follow the language only.
        VlxRamPara::VlxLanguageChanged();
        break;
    }
}

// A stick's files are read and listed right after this; the message is painted now, so it
// shows while a slow stick is read, and goes with the listing.
void SyncUpdate::showReadingWhileListing() {
    if (!g_tip) return;
    g_tip->tip_create(TIP::kReadingData);
    g_tip->repaint();
}

bool SyncUpdate::saveRequestedMode(int waitMs) {
    VlxRamPara* p = VlxRamPara::p_vlxrampara_config;
    // The request word and the mode are read under manage_mutex, which every RAM writer
    // holds (unless this thread holds it already: a change announced inside a hold).
    uint16_t n = 0;
    uint32_t requests = 0;
    ChangeStamp asked = 0;  // the request word as read
    unsigned char mode[kModeLength];
    {
        ManageMutexWithin lock(waitMs);
        if (!lock.held()) {
            writeLogMsg(LOG_ERROR, "the RAM was held past " + std::to_string(waitMs) +
                                       " ms: a user-mode save it asks for is not looked at");
            return false;
        }
        unsigned char word[2] = {0, 0};
        asked = p->copyRam(kModeSaveRequest, 2, word);
        n = VlxRamPara::getU16(word, 0);
        requests = p->mode_save_requests;
        if (!saveAsked(p, n, requests)) return false;
        if (n <= kModeSlots && !stop_save::mayWriteFile()) return false;  // the stop serves it
        g_savesServed = requests;
        if (n > kModeSlots) {
            // Names no slot: dropped, nothing outside the 16 slots is touched.
            writeLogMsg(LOG_WARNING, "user-mode save request " + std::to_string(n) + " names no mode, dropped");
            p->setRamU16(kModeSaveRequest, 0);
            return false;
        }
        p->copyRam(kModeStart, kModeLength, mode);
    }
    // The slot and the current-mode index change only once the file holds the mode:
    // a slot that reads as saved without its file would be gone at power-off.
    const bool saved = VlxRamPara::storeSlot(n - 1, mode, true) == 1;
    if (!saved) writeLogMsg(LOG_ERROR, "user mode " + std::to_string(n) + " not saved: its file cannot be written");
    ManageMutexWithin lock(waitMs);
    if (!lock.held()) {
        writeLogMsg(LOG_ERROR, "the RAM was held past " + std::to_string(waitMs) + " ms: user mode " +
                                   std::to_string(n) + " is not made the current mode");
        return false;
    }
    // The current-mode word as of the request's look: one a writer put there during the save
    // (a PC's, answered "done") is newer than this save and stays.
    ChangeStamp modeSeen = asked;
    unsigned char index[2];
    VlxRamPara::setU16(index, 0, n);
    if (saved) p->casRam(kCurrentMode, index, 2, modeSeen);
    // Only the request served is cleared: one written during the save stays for the next
    // notification, even when it names the same slot again.
    const unsigned char none[2] = {0, 0};
    p->casRam(kModeSaveRequest, none, 2, asked);
    return saved;
}

void SyncUpdate::userModeBookkeeping() {
    VlxRamPara* p = VlxRamPara::p_vlxrampara_config;
    // the slots as they are now hold every write made before the requests counted so far
    const uint32_t asked = mode_file_requests::count();
    bool all = true;
    for (int slot = 0; slot < kModeSlots; ++slot) {
        // a first look at the marker only spares the slots with nothing to do; keepSlotFiles
        // decides again from its own copy
        unsigned char s[2] = {0, 0};
        p->readSlot(slot, 0, 2, s);
        if (!VlxRamPara::slotHasFileWork(s)) continue;
        // a stop begun beside this notification owes them itself
        if (!stop_save::mayWriteFile() || !VlxRamPara::keepSlotFiles(slot)) {  // (logged) not kept
            all = false;
            continue;
        }
        g_slotKept[slot] = asked + 1;
    }
    if (all) g_filesKept = asked;
}

void SyncUpdate::serveModeSaveAtStop(unsigned char* ram, uint32_t requests, std::vector<VlxRamPara::OwedMode>* owed) {
    VlxRamPara* p = VlxRamPara::p_vlxrampara_config;
    const uint16_t n = VlxRamPara::getU16(ram, kModeSaveRequest);
    if (!saveAsked(p, n, requests)) return;
    VlxRamPara::setU16(ram, kModeSaveRequest, 0);
    if (n > kModeSlots) return;  // names no slot: dropped
    VlxRamPara::OwedMode mode;
    mode.slot = n - 1;
    mode.menuCopy = true;
    p->readSlot(mode.slot, 0, kModeFileSize, mode.image.data());  // the slot's spare bytes
    std::memcpy(mode.image.data() + kRamFileMarkerSize, ram + kModeStart, kModeLength);
    mode.image[0] = mode.image[1] = kModeSaved;
    owed->push_back(mode);
    VlxRamPara::setU16(ram, kCurrentMode, n);
}

void SyncUpdate::owedModeFilesAtStop(std::vector<VlxRamPara::OwedMode>* owed) {
    const uint32_t asked = mode_file_requests::count();
    if (asked == g_filesKept) return;
    for (int slot = 0; slot < kModeSlots; ++slot) {
        if (g_slotKept[slot] == asked + 1) continue;
        bool taken = false;
        for (const VlxRamPara::OwedMode& m : *owed) taken = taken || m.slot == slot;
        VlxRamPara::OwedMode file;
        file.slot = slot;
        if (!taken && VlxRamPara::slotFileImage(slot, file.image.data())) owed->push_back(file);
    }
}

void SyncUpdate::saveRamIfChanged() {
    VlxRamPara* p = VlxRamPara::p_vlxrampara_config;
    // A change handed to the C331 manager is saved once the manager has applied it and
    // announced it (its pass's code comes here next): until then the screens, which find
    // what changed against the shadow, still see it as new. The manager keeps its own base
    // (scaler/applied_ram.h); this copy is the file's and the screens' alone.
    unsigned char snapshot[kRamSize];
    {
        // The PC's link threads, the manager's pass and the FPGA engine write RAM under
        // manage_mutex: one whole copy under it, unless this thread holds it already (a
        // change announced from inside a hold arrives here directly).
        ManageMutexUnlessHeld lock;
        if (ManageLock::update_flag != 0) return;
        p->copyRam(0, kRamSize, snapshot);
    }
    ChangeStamp shadowSeen = 0;
    const bool changed = p->shadowDiffers(kSavedStart, kSavedLength, snapshot + kSavedStart, &shadowSeen);
    if (!RamFileWriter::owed() && !changed) return;
    // The file is written on the writer's thread: the next touch does not wait for its
    // fsync. The shadow follows at once (the screens find changes against it); a failed
    // write leaves the RAM owed to the file, and the next notification saves again.
    RamFileWriter::save(snapshot);
    // (a reset to the factory image that set the shadow meanwhile is newer than this copy)
    p->casShadow(snapshot, shadowSeen);
}
