#pragma once
// Advanced settings (focus 12): six pages behind a navigation column.
//   0 LCD display: return-home slider, auto-lock time
//   1 receiving-card update: check and self-recovery (jobs 5 and 6), the cards the engine reports
//   2 time plan (its button is hidden, the page never shown)
//   3 other settings: sound of a window, seamless or fade, SDI reset, WiFi, dot-by-dot
//   4 factory settings: language, OSD font indicators, three resets
//   5 factory ageing log behind an access code
#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>

#include "core/manage_lock.h"
#include "ui/system/system_screen.h"

class QFrame;
class QLabel;
class QPushButton;

namespace Ui {
class AdvancedOption;
}

class AdvancedOption;
extern QPointer<AdvancedOption> g_advancedoption;   // GUI thread only

class AdvancedOption : public SystemScreen {
    Q_OBJECT

public:
    static constexpr int kLogLinesPerPage = 16;
    static constexpr int kListEntriesPerPage = 5;
    static constexpr const char* kAgeingCode = "5716";

    explicit AdvancedOption(QWidget* parent = nullptr);
    ~AdvancedOption() override;

    void language_changed();
    void syncUpdate(int code);
    void para_init();
    void ringBesideList();
    void fitCaptionBefore(QLabel* caption, QWidget* next);
    void button_select(QPushButton* button);
    bool rcv_self_recovery_ornot() const;
    void rcv_self_recovery_file_list();
    void ageloginit();
    void update_agelog();

    // The FPGA engine's report of the cards that need an update (entries "screen/port/card/reference";
    // an empty list: nothing left). Callable from any thread: carried out on the GUI thread, on the
    // screen open then. The engine announces change code 1 (or 99 for an empty list) after it.
    static void reportRcvUpdate(const QStringList& entries);
    // The protocol's requests after a file transfer: re-label, or close the screen (refused like Back).
    static void requestLanguageChanged();
    static void requestBack();
    // Recovery files deleted: close while the update page is selected, else re-label.
    static void requestAfterFilesDeleted();

    // Read by the tests and the report above.
    uint32_t rcv_update_count = 0;
    uint32_t rcv_update_blocked = 0;
    QStringList rcv_update_list;
    uint8_t rcv_file_count = 0;
    int agePage() const { return age_page_; }
    bool ageingPageOpen() const { return age_open_ != 0; }

signals:
    void sig_qround_bar_update(int percent);

public slots:
    void on_Button_LCDshow_clicked();
    void on_Button_rcv_recovery_clicked();
    void on_Button_timeplan_clicked();
    void on_Button_other_clicked();
    void on_Button_factory_clicked();
    void on_Button_factory_age_clicked();
    void on_Button_back_clicked() override;
    void on_horizontalSlider_valueChanged(int value);
    void on_horizontalSlider_sliderReleased();
    void on_Button_5min_clicked();
    void on_Button_10min_clicked();
    void on_Button_never_clicked();
    void on_Button_plan_clicked();
    void on_Button_switch_clicked();
    void on_ImageVolume_currentIndexChanged(int index);
    void on_Button_volume_state_clicked();
    void on_Button_seamless_clicked();
    void on_Button_fade_clicked();
    void on_modeButton_clicked();
    void on_Button_wifi_state_clicked();
    void on_Button_DBD_open_clicked();
    void on_Button_DBD_close_clicked();
    // factory page
    void on_Button_language_clicked();
    void on_Button_reset_clicked();
    void on_Button_chinese_clicked();
    void on_Button_english_clicked();
    void on_Button_ru_clicked();
    void on_Button_vn_clicked();
    void on_Button_tn_clicked();
    void on_Button_reset1_clicked();
    void on_Button_reset2_clicked();
    void on_Button_reset3_clicked();
    // receiving-card update page
    void on_Button_check_clicked();
    void on_Button_self_recovery_clicked();
    void vlx_button_rcv_data_list_file_clicked();
    void vlx_Button_previous_clicked();
    void vlx_Button_next_clicked();
    // ageing page
    void on_next_clicked();
    void on_pre_clicked();
    void confirmString(QString value);

private:
    static void serveProtocolRequest(int request);  // on the GUI thread
    // Label text of the return-home slider: 30s, 1m, 1.5m, 3m.
    static QString slider_text(int ticks);
    bool navigationRefused() const;
    void showPage(int page, QPushButton* button);
    void markAutoLock();
    // The enabled window at the picture list's position, -1 for none.
    int chosenWindow() const;
    // The audio window of RAM 0x840 when it names window 0..5, else 0.
    static int audioWindow();
    void setWindowBytes(unsigned offset, uint8_t andMask, uint8_t orMask) REQUIRES(ManageLock::manage_mutex);
    void setWifi(bool off);
    void chooseLanguage(int value, QPushButton* button);
    void markLanguage(int value);
    void factoryReset(int kind, QPushButton* button);
    void styleRecoveryButton();
    void applyRcvUpdate(const QStringList& entries);

    Ui::AdvancedOption* ui;
    QPushButton* selected_page_button = nullptr;
    QPushButton* selected_reset_button = nullptr;
    QString recovery_normal_style_;
    QString recovery_disabled_style_;
    QString recovery_selected_style_;
    // ageing page
    QString age_text_;
    int age_page_ = 0;
    uint8_t age_open_ = 0;
    bool awaiting_code_ = false;
    // receiving-card list
    int8_t rcv_list_page = 0;
    uint8_t rcv_list_last_page = 0;
    uint8_t rcv_list_selected = 0;
    QFrame* rcv_list_frame = nullptr;
    QLabel* rcv_entry_labels[kListEntriesPerPage] = {};
    QString rcv_entry_texts[kListEntriesPerPage];
    bool rcv_report_pending_ = false;
};
