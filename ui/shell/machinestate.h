#pragma once
// Machine-state screen (focus 2): device address and id, the inputs' signal and the
// link of the 32 output ports of the two sending cards.
#include <QDialog>

#include <cstdint>

class QFrame;

namespace Ui {
class MachineState;
}

class MachineState : public QDialog {
    Q_OBJECT

public:
    static constexpr int kPortsPerOutput = 16;

    explicit MachineState(QWidget* parent = nullptr);
    ~MachineState() override;

    void language_changed();
    // Change code 11 re-reads the port links; every code re-reads the inputs.
    void syncUpdate(int code);
    // Port links from the sending-card engine (bit p: port p, FPGA 1 from bit 16).
    void initWlan();
    uint32_t shownLinks() const { return links_; }

public slots:
    void on_Button_back_clicked();

private:
    void refreshInputs();

    Ui::MachineState* ui;
    QFrame* port_frame_ = nullptr;
    QFrame* input_frame_ = nullptr;
    uint32_t links_ = 0;
    bool closing_ = false;
};
