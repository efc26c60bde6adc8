#include "app/engine_links.h"

#include "core/global.h"
#include "core/logMsg.h"
#include "fpga/fpga_manage.h"
#include "protocol/file_transfer.h"
#include "protocol/h71_wifi_config.h"
#include "ui/shell/mainwindow.h"
#include "ui/system/advancedoption.h"
#include "ui/system/card_job.h"
#include "ui/system/smartmapping.h"
#include "ui/system/system_links.h"
#include "video_io/kavelsource.h"
#include "video_io/receivers.h"

void linkFpgaEngine() {
    ShellLinks& links = shellLinks();
    links.fpgaEnginePresent = [] { return fpga_manage::p_fpga_manage != nullptr; };
    links.fpgaRunning = [] {
        fpga_manage* e = fpga_manage::p_fpga_manage;
        return e && e->get_fpga_status() == 1;
    };
    // bit p: port p up (0..15 FPGA 0, 16..31 FPGA 1), read fresh
    links.fpgaPortLinks = []() -> uint32_t {
        fpga_manage* e = fpga_manage::p_fpga_manage;
        return e ? e->get_wlan_state() : 0;
    };
    // a fresh read over SPI; the mirror's byte when the read fails
    links.fpgaRegister = [](uint8_t reg, uint8_t fpga) -> uint8_t {
        fpga_manage* e = fpga_manage::p_fpga_manage;
        if (!e) return 0;
        e->read_from_register(reg, fpga);
        return e->mirror(reg, fpga);
    };
    // receiving-card jobs: taken while the engine's thread passes (the scaler has started
    // it and no USB upgrade holds it); its reports go to the screens
    systemLinks().cardJobRunner = [] {
        fpga_manage* e = fpga_manage::p_fpga_manage;
        return e && e->threadRunning() && g_fpga_c331_start && !g_usb_grade;
    };
    card_job::linkEngine();
    systemLinks().emptyCardFileList = [](bool recovery) {
        if (fpga_manage* e = fpga_manage::p_fpga_manage) e->rcv_recovery->clear_file_list(recovery);
    };
    // the mapping switch of the smart-mapping screen
    systemLinks().fpgaWriteRegister = [](uint8_t reg, uint8_t mask, uint8_t value, uint8_t fpga) {
        if (fpga_manage* e = fpga_manage::p_fpga_manage) e->write_to_register(reg, mask, value, fpga);
    };
}

void linkFileTransferScreens() {
    // Called on a link's thread, which may not read the GUI thread's links: it calls copies of
    // the two entries it needs. The screens act on the GUI thread.
    g_vlx_file_deal_para.cardFileChanged = [enginePresent = shellLinks().fpgaEnginePresent,
                                            emptyCardFileList = systemLinks().emptyCardFileList](bool recovery,
                                                                                                 bool deleted) {
        if (!deleted) {
            if (!enginePresent || !enginePresent()) return;
            if (recovery)
                AdvancedOption::requestLanguageChanged();
            else
                SmartMapping::requestBack();
            return;
        }
        if (emptyCardFileList) emptyCardFileList(recovery);
        if (recovery)
            AdvancedOption::requestAfterFilesDeleted();
        else
            SmartMapping::requestAfterFilesDeleted();
    };
}

void linkSystemServices() {
    SystemLinks& links = systemLinks();
    links.sdiReset = [] {
        kavelsource* s = kavelsource::p_kavel_source;
        if (s && s->it66121) {
            s->it66121->GS2971_Reset();
        } else {
            writeLogMsg(LOG_WARNING, "SDI reset: the input chips are not running");
        }
    };
    links.wifiRestart = [] {
        if (H71_WIFI_CONFIG* w = H71_WIFI_CONFIG::p_wifi.load(std::memory_order_acquire)) {
            w->set_wifi_reset_flag();
        } else {
            writeLogMsg(LOG_WARNING, "WiFi restart: the WiFi module is not running");
        }
    };
}
