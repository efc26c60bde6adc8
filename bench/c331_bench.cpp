// SPI traffic of the C331 manager, counted by the simulated chip: frames, bytes and bus
// time (writes at 10 MHz, reads at 5 MHz) of the bring-up, of an LED-size change and of
// a picture change, of a six-window re-layout and of one window's source change, next to
// the host time each takes.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/vlxrampara.h"
#include "platform/platform.h"
#include "platform/sim/c331_model.h"
#include "platform/sim/sim_board.h"
#include "platform/sys.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_wiring.h"

#include "c331_world.h"

namespace {

// The manager's sleeps pass as board time: a busy bit polled with pauses between reads
// sees the chip's time go by as on the device, not the wire's time alone.
void passAsBoardTime(uint64_t us) { plat::sim::board().step(us * plat::sim::kNsPerUs); }

struct World : C331World {
    World() { plat::setSleepHook(passAsBoardTime); }
    ~World() { plat::setSleepHook(nullptr); }
    void bringUp() {
        m->setState(0);
        runUp();
    }
    void change(unsigned address, uint16_t value) {
        {
            ManageMutexLocker lock;
            ram->setRamU16(address, value);
            c331_manage::update_flag = 1;
        }
        m->step();
        ram->shadowTakesRam();
    }
};

void report(benchmark::State& state, const plat::sim::C331Model::Counters& c, int64_t ops) {
    state.counters["frames"] = double(c.frames) / double(ops);
    state.counters["bytes"] = double(c.bytes) / double(ops);
    state.counters["bus_ms"] = c.busSeconds * 1000.0 / double(ops);
}

// The floor of an operation: the same frames on a chip whose flash controller and drawing
// engine are never busy, so that every wait ends at its first poll. Run twice: a change
// there and back, as the timed loop alternates.
template <typename Op>
void reportFloor(benchmark::State& state, World& w, Op op) {
    plat::sim::C331Engine::Times saved, instant;
    {
        auto lock = w.chip->engineLock();
        saved = w.chip->engine().times();
        instant.pageProgram = instant.pageShift = instant.erase4k = instant.erase32k = instant.erase64k = 0;
        instant.readStart = 0;
        instant.dmaBytesPerUs = instant.drawBytesPerUs = UINT32_MAX;
        w.chip->engine().setTimes(instant);
    }
    w.chip->clearCounters();
    op();
    op();
    const auto c = w.chip->counters();
    state.counters["floor_frames"] = double(c.frames) / 2;
    state.counters["floor_bus_ms"] = c.busSeconds * 1000.0 / 2;
    auto lock = w.chip->engineLock();
    w.chip->engine().setTimes(saved);
}

void BM_C331BringUp(benchmark::State& state) {
    World w;
    for (auto _ : state) {
        state.PauseTiming();
        w.chip->clearCounters();
        state.ResumeTiming();
        w.bringUp();
    }
    report(state, w.chip->counters(), 1);
    reportFloor(state, w, [&] { w.bringUp(); });
}

void BM_C331LedSizeChange(benchmark::State& state) {
    World w;
    w.bringUp();
    uint16_t width = 1920;
    plat::sim::C331Model::Counters total{};
    int64_t n = 0;
    for (auto _ : state) {
        width = width == 1920 ? 3840 : 1920;
        state.PauseTiming();
        w.chip->clearCounters();
        state.ResumeTiming();
        w.change(vlxram::kLedWidth, width);
        state.PauseTiming();
        const auto c = w.chip->counters();
        total.frames += c.frames, total.bytes += c.bytes, total.busSeconds += c.busSeconds, ++n;
        g_set_led_para = 0;
        state.ResumeTiming();
    }
    report(state, total, n);
    reportFloor(state, w, [&] {
        width = width == 1920 ? 3840 : 1920;
        w.change(vlxram::kLedWidth, width);
        g_set_led_para = 0;
    });
}

void BM_C331PictureChange(benchmark::State& state) {
    World w;
    w.bringUp();
    uint16_t contrast = 50;
    plat::sim::C331Model::Counters total{};
    int64_t n = 0;
    for (auto _ : state) {
        contrast = contrast == 50 ? 60 : 50;
        state.PauseTiming();
        w.chip->clearCounters();
        state.ResumeTiming();
        w.change(vlxram::kContrast, contrast);
        state.PauseTiming();
        const auto c = w.chip->counters();
        total.frames += c.frames, total.bytes += c.bytes, total.busSeconds += c.busSeconds, ++n;
        state.ResumeTiming();
    }
    report(state, total, n);
    reportFloor(state, w, [&] {
        contrast = contrast == 50 ? 60 : 50;
        w.change(vlxram::kContrast, contrast);
    });
}

// Six windows on the 4 x 1 arrangement of a 7680 x 1080 screen, each on a live input.
void sixWindows(World& w) {
    w.change(vlxram::kLedWidth, 7680);
    g_set_led_para = 0;
    w.m->step();
    for (int s = 0; s < 6; ++s) {
        const unsigned a = vlxram::kInputTiming + vlxram::kInputTimingSize * unsigned(s);
        w.ram->setRamU16(a, 1920);
        w.ram->setRamU16(a + 2, 1080);
        w.ram->setRamByte(a + 4, 60);
        plat::sim::C331Model::InputSignal in;
        in.htotal = 2200, in.vtotal = 1125, in.hact = 1920, in.hz = 60, in.lanes = s >= 4 ? 4 : 0;
        w.chip->setInputSignal(c331_manage::vlxApi_inputCvtC331(s), in);
    }
    for (int k = 0; k < 6; ++k) {
        using namespace vlxram;
        w.ram->setRamU16(windowField(k, kWinX), uint16_t((k % 4) * 1920 + 100));
        w.ram->setRamU16(windowField(k, kWinY), uint16_t((k / 4) * 540));
        w.ram->setRamU16(windowField(k, kWinWidth), 1600);
        w.ram->setRamU16(windowField(k, kWinHeight), 500);
        w.ram->setRamU16(windowField(k, kWinSource), uint16_t(k));
        w.ram->setRamU16(windowField(k, kWinOutput), 0);
        w.ram->setRamU16(windowField(k, kWinAttributes), 0);
    }
    for (int k = 0; k < 6; ++k) w.change(vlxram::windowField(k, vlxram::kWinState), 1);
    G_timeTicks += c331_manage::kMeasureTicks;
    w.m->step();
}

// Every window moves to x: a full re-layout.
void moveAll(World& w, uint16_t x) {
    {
        ManageMutexLocker lock;
        for (int k = 0; k < 6; ++k) w.ram->setRamU16(vlxram::windowField(k, vlxram::kWinX), uint16_t((k % 4) * 1920 + x));
        c331_manage::update_flag = 1;
    }
    w.m->step();
}

void BM_C331SixWindowRelayout(benchmark::State& state) {
    World w;
    w.bringUp();
    sixWindows(w);
    uint16_t x = 100;
    plat::sim::C331Model::Counters total{};
    int64_t n = 0;
    for (auto _ : state) {
        x = x == 100 ? 120 : 100;
        state.PauseTiming();
        w.chip->clearCounters();
        state.ResumeTiming();
        moveAll(w, x);
        state.PauseTiming();
        w.ram->shadowTakesRam();
        const auto c = w.chip->counters();
        total.frames += c.frames, total.bytes += c.bytes, total.busSeconds += c.busSeconds, ++n;
        state.ResumeTiming();
    }
    report(state, total, n);
    reportFloor(state, w, [&] {
        x = x == 100 ? 120 : 100;
        moveAll(w, x);
        w.ram->shadowTakesRam();
    });
    int ichs = 0;
    for (int k = 0; k < 6; ++k) ichs += w.m->ich.count(k);
    state.counters["windows"] = w.m->win_count;
    state.counters["ich"] = ichs;
}

void BM_C331SourceChange(benchmark::State& state) {
    World w;
    w.bringUp();
    sixWindows(w);
    uint16_t source = 0;
    plat::sim::C331Model::Counters total{};
    int64_t n = 0;
    for (auto _ : state) {
        source = source == 0 ? 1 : 0;  // window 0 between two CMOS inputs
        state.PauseTiming();
        w.chip->clearCounters();
        state.ResumeTiming();
        w.change(vlxram::windowField(0, vlxram::kWinSource), source);
        state.PauseTiming();
        const auto c = w.chip->counters();
        total.frames += c.frames, total.bytes += c.bytes, total.busSeconds += c.busSeconds, ++n;
        state.ResumeTiming();
    }
    report(state, total, n);
    reportFloor(state, w, [&] {
        source = source == 0 ? 1 : 0;
        w.change(vlxram::windowField(0, vlxram::kWinSource), source);
    });
}

}  // namespace

BENCHMARK(BM_C331BringUp)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_C331LedSizeChange)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_C331PictureChange)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_C331SixWindowRelayout)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_C331SourceChange)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
