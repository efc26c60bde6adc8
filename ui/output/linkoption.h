#pragma once
// Link settings (focus 10): the fixed serial settings, the Ethernet address, mask and gateway
// typed on the keypad, and the USB upgrade: the upgrade packages on the stick and Load, which
// hands the upgrade to the FPGA engine's thread.
#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

#include "ui/shell/refusal_note.h"

class QFrame;
class QLineEdit;
class QPushButton;

namespace Ui {
class LinkOption;
}

class LinkOption : public QDialog {
    Q_OBJECT

public:
    static constexpr int kMaxFiles = 100;
    static constexpr int kRowsPerPage = 5;

    explicit LinkOption(QWidget* parent = nullptr);
    ~LinkOption() override;

    void language_changed();
    void syncUpdate(int code);
    void get_file_list_smartpath();
    void rcv_self_recovery_file_list();

    const QStringList& files() const { return file_list_; }
    bool marked(int file) const { return file >= 0 && file < kMaxFiles && marks_[file]; }
    int listPage() const { return list_page_; }
    int lastListPage() const { return last_list_page_; }
    bool loadStarted() const { return file_downing_ != 0; }

    // Folder of the upgrade packages on the stick (device path), empty when the configured
    // sub-folder would lead out of the stick.
    static QString usbDirectory();

public slots:
    void on_Button_back_clicked();
    void on_Button_com_clicked();
    void on_Button_wlan_clicked();
    void on_Button_usb_clicked();
    void on_Button_direct_clicked();
    void on_Button_IP_clicked();
    void on_Button_net_apply_clicked();
    void on_Button_net_cancel_clicked();
    void on_Button_ok_clicked();
    void show_numberkeyboard_ui(QString text);
    void confirmString(QString value);
    void menulist_button_ok_page();
    void vlx_previous_page();
    void vlx_next_page();

private:
    void selectTab(QPushButton* tab, int page);
    QLineEdit* field(const char* row, int k) const;
    QString rowText(const char* row) const;
    // An address field takes 0..255.
    static RefusalNote::Range octetRange();

    Ui::LinkOption* ui;
    QPushButton* selected_tab_ = nullptr;
    QString edited_field_;
    QFrame* file_frame_ = nullptr;
    int list_page_ = 0;
    uint8_t file_downing_ = 0;
    QStringList file_list_;
    uint8_t vlx_count_ = 0;
    uint8_t vlxzk_count_ = 0;
    int last_list_page_ = 0;
    unsigned char marks_[kMaxFiles] = {};
    // An octet out of 0..255, refused with the range.
    std::unique_ptr<RefusalNote> refused_;
};

extern QPointer<LinkOption> g_linkoption;   // GUI thread only
