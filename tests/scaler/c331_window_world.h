#pragma once
// A running C331 with a chosen OCH arrangement and window blocks written straight into the
// parameter RAM; helpers to lay them out and to read the chip's register writes in order.
#include <vector>

#include "c331_fixture.h"
#include "scaler/c331_regs.h"
#include "scaler/c331_regs_win.h"

namespace scalertest {

struct RegWrite {
    unsigned bank, addr, value;
};

class WindowWorld : public ScalerTest {
protected:
    void SetUp() override {
        ScalerTest::SetUp();
        g_force_bkcolor = 0;
        startRunning();
        ASSERT_EQ(m->state(), c331_manage::kStateRunning);
    }
    void setPanel(int arrang, int cols, int rows, int ochW = 1920, int ochH = 1080) {
        m->panel.arrang = arrang;
        m->panel.cols = uint8_t(cols);
        m->panel.rows = uint8_t(rows);
        m->panel.ochW = ochW;
        m->panel.ochH = ochH;
        m->panel.xOffset = m->panel.yOffset = 0;
        m->panel.ledW = uint16_t(cols * ochW);
        m->panel.ledH = uint16_t(rows * ochH);
    }
    void clearWindows() {
        for (int w = 0; w < WINDOW_MAX; ++w) ram->setRamU16(vlxram::windowField(w, vlxram::kWinState), 0);
    }
    void window(int w, int x, int y, int width, int height, int source, uint16_t output = 0) {
        using namespace vlxram;
        ram->setRamU16(windowField(w, kWinState), 1);
        ram->setRamU16(windowField(w, kWinX), uint16_t(x));
        ram->setRamU16(windowField(w, kWinY), uint16_t(y));
        ram->setRamU16(windowField(w, kWinWidth), uint16_t(width));
        ram->setRamU16(windowField(w, kWinHeight), uint16_t(height));
        ram->setRamU16(windowField(w, kWinSource), uint16_t(source));
        ram->setRamU16(windowField(w, kWinAttributes), 0);
        ram->setRamU16(windowField(w, kWinOutput), output);
        ram->setRamU16(kLayerPriority + 2u * unsigned(w), uint16_t(w));
    }
    // The dispatcher's re-layout.
    void relayout() {
        m->vlxApi_initEnvC331();
        m->vlxApi_MultiWinChAlloc(1);
        m->vlxApi_MultiWinChInit();
        m->set_output(m->fd());
    }
    // A picture on a source: the receiver's words in the RAM and the chip's measurement.
    void plug(int source, int hact, int vact, int hz, int lanes = 0) {
        const unsigned a = vlxram::kInputTiming + vlxram::kInputTimingSize * unsigned(source);
        ram->setRamU16(a, uint16_t(hact));
        ram->setRamU16(a + 2, uint16_t(vact));
        ram->setRamByte(a + 4, uint8_t(hz));
        const c331in::ReceiverTiming t = c331in::timingFromRam(source, unsigned(hact), unsigned(vact), unsigned(hz));
        plat::sim::C331Model::InputSignal in;
        in.htotal = t.htotal;
        in.vtotal = t.vtotal;
        in.hact = hact;
        in.hz = hz;
        in.lanes = lanes ? lanes : t.lane;
        chip->setInputSignal(c331_manage::vlxApi_inputCvtC331(source), in);
    }
    void unplug(int source) {
        const unsigned a = vlxram::kInputTiming + vlxram::kInputTimingSize * unsigned(source);
        ram->setRamU16(a, 0);
        ram->setRamU16(a + 2, 0);
        ram->setRamByte(a + 4, 0);
        chip->setInputSignal(c331_manage::vlxApi_inputCvtC331(source), {});
    }
    // One manager pass after the measurement interval.
    void passLater() {
        G_timeTicks += c331_manage::kMeasureTicks;
        m->step();
    }
    std::vector<RegWrite> writes() const {
        std::vector<RegWrite> out;
        for (const auto& f : chip->frames())
            if ((f.tx[0] & 0x80) && (f.tx[0] & 0x7F) != 0) out.push_back({unsigned(f.bank), f.tx[0] & 0x7Fu, f.tx[1]});
        return out;
    }
    static bool touches(const std::vector<RegWrite>& ws, unsigned bank) {
        for (const auto& w : ws)
            if (w.bank == bank) return true;
        return false;
    }
};

}  // namespace scalertest
