#include "core/syncupdate.h"


#include <cstring>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/vlxrampara.h"
#include "ui/output/imagequality.h"
#include "ui/output/linkoption.h"
#include "ui/output/outputset.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_globals.h"
#include "ui/shell/tip.h"

using namespace vlxram;

SyncUpdate* SyncUpdate::p_SyncUpdate = nullptr;

SyncUpdate::SyncUpdate(QObject* parent) : QObject(parent) {}

SyncUpdate* SyncUpdate::pInstance() {
    if (!p_SyncUpdate) p_SyncUpdate = new SyncUpdate;
    return p_SyncUpdate;
}

void SyncUpdate::para_sync(int code) {
    if (!VlxRamPara::p_vlxrampara_config) return;
    refreshPage(code);
    saveRequestedMode();
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
    // ---- 3 input choice: InputChoose::syncUpdate(code)
    // ---- 4 user modes: CustomMode::syncUpdate(); pop-up 1
    case 5:
        if (g_option) g_option->syncUpdate();
        break;
    case 6:
        if (g_outputset) g_outputset->syncUpdate();
        if (g_tip) g_tip->tip_create(TIP::kDone);
        break;
    // ---- 7 input crop: InputCut::syncUpdate(code)
    // ---- 8 EDID: EDIDset::syncUpdate()
    // ---- 9 layout: ImageLayout::syncUpdate(); pop-up 1
    case 10:
        if (g_linkoption) g_linkoption->syncUpdate(code);
        if (g_tip) {
            if (code == 100)
                g_tip->tip_create(TIP::kUsbConnected);
            else if (code == 101)
                g_tip->tip_create(TIP::kUsbUnplugged);
            else if (code == 102)
                g_tip->tip_create(TIP::kReadingData);
            else if (code != 104)
                g_tip->tip_create(TIP::kDone);
        }
        break;
    case 11:
        if (g_imagequality) g_imagequality->syncUpdate();
        break;
    // ---- 12 advanced options: AdvancedOption::syncUpdate(code); pop-up 1
    // ---- 24 smart mapping: SmartMapping::syncUpdate(code); pop-up 100->3, 101->4, 102->5
    default:
        // No screen of its own (test patterns and the unused numbers): follow the language only.
        VlxRamPara::VlxLanguageChanged();
        break;
    }
}

void SyncUpdate::saveRequestedMode() {
    VlxRamPara* p = VlxRamPara::p_vlxrampara_config;
    const uint16_t n = p->ramU16(kModeSaveRequest);
    if (n == p->shadowU16(kModeSaveRequest) || n == 0) return;
    if (n > kModeSlots) {
        // Names no slot: dropped, nothing outside the 16 slots is touched.
        writeLogMsg(LOG_WARNING, "user-mode save request " + std::to_string(n) + " names no mode, dropped");
        p->setRamU16(kModeSaveRequest, 0);
        return;
    }
    const int slot = n - 1;
    // The slot and the current-mode index change only once the file holds the mode:
    // a slot that reads as saved without its file would be gone at power-off.
    unsigned char previous[kModeSlotSize];
    std::memcpy(previous, p->mode_para[slot], kModeSlotSize);
    p->mode_para[slot][0] = p->mode_para[slot][1] = kModeSaved;
    std::memcpy(p->mode_para[slot] + kRamFileMarkerSize, p->ram_para + kModeStart, kModeLength);
    if (VlxRamPara::mode_file_write(slot, 0)) {
        p->setRamU16(kCurrentMode, n);
    } else {
        std::memcpy(p->mode_para[slot], previous, kModeSlotSize);
        writeLogMsg(LOG_ERROR, "user mode " + std::to_string(n) + " not saved: its file cannot be written");
    }
    p->setRamU16(kModeSaveRequest, 0);
}

void SyncUpdate::userModeBookkeeping() {
    VlxRamPara* p = VlxRamPara::p_vlxrampara_config;
    for (int slot = 0; slot < kModeSlots; ++slot) {
        const unsigned char* s = p->mode_para[slot];
        if (s[0] == kModeEmpty || s[1] == kModeEmpty) {
            VlxRamPara::mode_file_deal(slot, 1);
            p->setRamU16(kModeSaveRequest, 0);
        } else if (s[0] == kModeSaved || s[1] == kModeSaved) {
            VlxRamPara::mode_file_write(slot, 2);
        }
    }
}

void SyncUpdate::saveRamIfChanged() {
    VlxRamPara* p = VlxRamPara::p_vlxrampara_config;
    // One snapshot is compared, written and becomes the shadow: a change that lands
    // while the file is written still differs from the shadow afterwards, so the
    // scaler applies it and the next code saves it.
    unsigned char snapshot[kRamSize];
    std::memcpy(snapshot, p->ram_para, kRamSize);
    if (std::memcmp(snapshot + kSavedStart, p->ram_para_shadow + kSavedStart, kSavedLength) == 0) return;
    VlxRamPara::saveRamFile(snapshot);
    std::memcpy(p->ram_para_shadow, snapshot, kRamSize);
}
