#pragma once
// Smart mapping (focus 24): tells the receiving cards behind one output port where they sit.
//   pages 0..3 quick set-up wizard: cabinet size, port, rows, columns, offsets, routing pattern (job 1)
//   pages 4, 5 load scan: port, then a scan file of the controller (any file) or the USB stick ("kvfile") (job 2)
//   page 6     parameter saving in every card (job 3)
//   page 7     mapping switch: bit 7 of register 0 of both FPGAs (job 4)
#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

#include "fpga/job_block.h"
#include "ui/shell/refusal_note.h"
#include "ui/system/system_screen.h"

class QFrame;
class QLabel;
class QPushButton;
class QLineEdit;

namespace Ui {
class SmartMapping;
}

class SmartMapping;
extern QPointer<SmartMapping> g_smartmapping;   // GUI thread only
extern uint32_t g_scan_config_json_offset;   // GUI thread (the wizard)

// Fields of line_type (fpga/job_block.h), read as little-endian words.
namespace line_field {
uint16_t u16(unsigned offset);
}  // namespace line_field

class SmartMapping : public SystemScreen {
    Q_OBJECT

public:
    static constexpr int kMaxScanFiles = 100;
    static constexpr int kRowsPerPage = 5;

    explicit SmartMapping(QWidget* parent = nullptr);
    ~SmartMapping() override;

    void language_changed();
    void syncUpdate(int code);
    void wlan_init(int kind);
    void line_select(int n);
    void button_select(QPushButton* tile);
    void scan_file_list();

    // The protocol's request after a scan file arrived or was deleted: close (refused like Back).
    static void requestBack();
    // Scan files deleted: close at focus 24; the settings menu in front is re-labelled.
    static void requestAfterFilesDeleted();

    // Read by the tests.
    uint32_t scanFileCount() const { return scan_count_; }
    const QStringList& scanPaths() const { return paths_; }
    int currentPage() const { return current_page_; }
    int lastPage() const { return last_page_; }
    bool listShown() const { return list_shown_ != 0; }

signals:
    void sig_qround_bar_update(int percent);

public slots:
    void on_Button_back_clicked() override;
    void on_Button_shortcut_clicked();
    void on_Button_loadscan_clicked();
    void on_Button_paraweld_clicked();
    void on_Button_mapping_clicked();
    void on_Button_next_clicked();
    void on_Button_front_2_clicked();
    void on_Button_next_2_clicked();
    void on_Button_front_3_clicked();
    void on_Button_route_clicked();
    void on_Button_cancel_clicked();
    void on_Button_send_clicked();
    void on_Button_route1_clicked();
    void on_Button_route2_clicked();
    void on_Button_route3_clicked();
    void on_Button_route4_clicked();
    void on_Button_route5_clicked();
    void on_Button_route6_clicked();
    void on_Button_route7_clicked();
    void on_Button_route8_clicked();
    void on_Button_route9_clicked();
    void on_Button_route10_clicked();
    void on_Button_route11_clicked();
    void on_Button_route12_clicked();
    void on_Button_route13_clicked();
    void on_Button_route14_clicked();
    void on_Button_route15_clicked();
    void on_Button_route16_clicked();
    void on_Button_wlan1_clicked();
    void on_Button_wlan2_clicked();
    void on_Button_wlan3_clicked();
    void on_Button_wlan4_clicked();
    void on_Button_wlan5_clicked();
    void on_Button_wlan6_clicked();
    void on_Button_wlan7_clicked();
    void on_Button_wlan8_clicked();
    void vlx_button_wlan_clicked();
    // load scan, parameter saving, mapping switch
    void on_Button_next_5_clicked();
    void on_Button_front_6_clicked();
    void on_Button_load_clicked();
    void on_Button_confirm_clicked();
    void on_Button_mapping_state_clicked();
    void vlx_button_file_clicked();
    void vlx_Button_previous_clicked();
    void vlx_Button_next_clicked();
    void usb_para_sync(int code);
    // The FPGA engine ended the scan-file load it was handed with an error (a file or folder
    // gone while it ran): the screen says so and lists what is there now.
    void loadFailed();
    // keypad
    void show_numberkeyboard_ui(QString text);
    void confirmString(QString text);

private:
    static void serveProtocolRequest(int request);  // on the GUI thread
    // What a wizard field may take now: what it holds, and what the other two of its direction
    // (cabinet size, count, offset) leave of the cards' 16-bit canvas.
    RefusalNote::Range rangeOf(const QLineEdit* field) const;
    // Every wizard field against its range; the first that does not fit is refused on screen.
    bool gridFits();
    void startJob(uint8_t op);
    void labelPage(int page);
    void selectGroup(int button, QPushButton* groupButton);
    void chooseRoute(int n);
    // The scan files, local ones first, at most 100; `local` gets the number of local ones.
    static QStringList listScanFiles(int* local);
    void buildFileList();
    void styleTiles();
    QString rowStyle(int index, bool selected) const;
    bool mappingOnInBoth() const;

    Ui::SmartMapping* ui;
    QPushButton* selected_tile_ = nullptr;
    QPushButton* selected_group_ = nullptr;
    uint8_t port_group_ = 0;
    uint8_t port_cell_ = 0;
    QFrame* port_grid_ = nullptr;
    QFrame* cell_frames_[8] = {};
    uint32_t list_shown_ = 0;
    QPointer<QLineEdit> my_field_;
    // What a field cannot hold, refused on its page with the range it takes; a failed load.
    std::unique_ptr<RefusalNote> cabinet_note_;
    std::unique_ptr<RefusalNote> screen_note_;
    std::unique_ptr<RefusalNote> load_note_;
    // scan files
    int8_t current_page_ = 0;
    uint32_t scan_count_ = 0;
    uint8_t last_page_ = 0;
    uint8_t files_listed_ = 0;
    uint8_t local_files_ = 0;
    QStringList paths_;
    QFrame* file_frame_ = nullptr;
    QLabel* row_labels_[kRowsPerPage] = {};
    QString row_names_[kRowsPerPage];
    QString row_paths_[kRowsPerPage];
    uint8_t selected_row_ = 0;
};
