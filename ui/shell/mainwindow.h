#pragma once
// Home screen of the front panel and owner of the 10 ms tick, the only timer of
// the program: every timeout of every thread counts the ticks it adds.
#include <QMainWindow>
#include <QPointer>

#include <cstdint>
#include <functional>

#include "ui/shell/firmwareupdate.h"
class QFrame;
class QLabel;
class QPushButton;

namespace Ui {
class MainWindow;
}

// Ageing histograms of OUT1 (FPGA 0) and OUT2 (FPGA 1): how often the counter register
// advanced by 1..2, 3..4, 5..9, 10..19 or 20 and more between two samples. GUI thread only
// (the tick samples, the advanced settings show them).
extern uint32_t factoryage_log_diff3;
extern uint32_t factoryage_log_diff5;
extern uint32_t factoryage_log_diff10;
extern uint32_t factoryage_log_diff20;
extern uint32_t factoryage_log_diffmore;
extern uint32_t factoryage_log2_diff3;
extern uint32_t factoryage_log2_diff5;
extern uint32_t factoryage_log2_diff10;
extern uint32_t factoryage_log2_diff20;
extern uint32_t factoryage_log2_diffmore;

// What the shell reads of the sending-card engine and of the ageing view. The engine and the
// advanced-settings screen fill these when they exist; an empty entry means "not there":
// no engine takes no ageing sample, an FPGA register reads 0 (nothing running) and every
// output port shows its link down.
struct ShellLinks {
    std::function<bool()> fpgaEnginePresent;                       // fpga_manage::p_fpga_manage set
    std::function<bool()> fpgaRunning;                             // fpga_manage::get_fpga_status()
    std::function<uint8_t(uint8_t reg, uint8_t fpga)> fpgaRegister;  // read_from_register + mirror byte
    std::function<uint32_t()> fpgaPortLinks;                       // get_wlan_state(): bit p = port p up
    std::function<void()> ageViewRefresh;                          // update_agelog() of the open view
};
ShellLinks& shellLinks();

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // Ageing samples: one every 18,000 ticks (three minutes), at most 3,360 lines (a week).
    static constexpr uint32_t kAgeSampleTicks = 18000;
    static constexpr int kAgeLogMaxLines = 3360;
    // A requested restart waits this long so that the reply and the file writes get out.
    static constexpr uint32_t kRebootDelayTicks = 300;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void language_changed();
    void syncUpdate();

    // Full-screen firmware-update display; callable from any thread (carried out on the GUI thread).
    void update_start();
    void update_over();
    FirmwareUpdate* firmwareUpdateDisplay() const { return update_display_.data(); }

    // One ageing sample of both FPGAs into factoryage_log and the histograms.
    void getagelog();

    // Set when the mode panel recalled or saved a user mode; the change notification shows
    // the done mark after the next refresh of this screen and clears it.
    uint8_t mode_recall_flag = 0;

    bool modePanelShown() const;
    // The mode panel acts on a slot button: recall a saved mode or save the current settings.
    enum class ModeAction { Recall, Save };
    ModeAction modeAction() const { return mode_action_; }

public slots:
    void slot_update_timer_ticks();

    void on_inputchoose_clicked();
    void on_custommode_clicked();
    void on_option_clicked();
    void on_machinestate_clicked();
    void on_modepanel_clicked();
    void on_Button_mode_close_clicked();
    void on_Button_mode_recall_clicked();
    void on_Button_mode_save_clicked();
    void vlx_button_mode_clicked();

private:
    bool panelLocked() const;
    void buildInputCards();
    void buildModeButtons();
    // Highlights the recall or the save button, whichever the slot buttons do.
    void showModeAction();
    void refreshStatusBar();
    void rebootWhenDue();
    void ageingWhenDue();

    Ui::MainWindow* ui;
    QPointer<FirmwareUpdate> update_display_;
    QFrame* input_frame_ = nullptr;
    QFrame* mode_frame_ = nullptr;
    ModeAction mode_action_ = ModeAction::Recall;
};
