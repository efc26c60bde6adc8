// The PC's requests reach the FPGAs through the protocol's seam once the engine is up.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "fpga/fpga_protocol.h"
#include "fpga_fixture.h"

using namespace fpgatest;

TEST_F(FpgaTest, ProtocolSeamReachesBothFpgasTheirRamsAndTheMailbox) {
    start();
    ProtocolEngines& pe = protocolEngines();
    EXPECT_EQ(pe.mailboxRam(), fpga_manage::MCU_RAM_CMD);
    EXPECT_EQ(pe.extendRam(), fpga_manage::MCU_RAM_EXTEND);

    EXPECT_EQ(pe.fpgaWriteRegister(23, 0x08, 0x08, 1), kEngineOk);
    EXPECT_EQ(chips->fpga[1]->reg(23) & 0x08, 0x08);
    EXPECT_EQ(chips->fpga[0]->reg(23) & 0x08, 0);
    uint8_t v = 0;
    EXPECT_EQ(pe.fpgaReadRegister(31, 0, &v), kEngineOk);
    EXPECT_EQ(v, 26);
    EXPECT_EQ(pe.fpgaWriteRegister(66, 0xFF, 1, 0), kEngineOk);
    EXPECT_EQ(pe.fpgaReadRegister(66, 0, &v), kEngineOk);
    EXPECT_EQ(v, 1) << "a virtual register answers from the mirror";
    EXPECT_EQ(pe.fpgaWriteRegister(170, 0xFF, 1, 0), kEngineFailed);
    EXPECT_EQ(pe.fpgaWriteRegister(3, 0xFF, 1, 2), kEngineFailed);

    const Bytes data = {9, 8, 7};
    EXPECT_EQ(pe.fpgaWriteRam(33, 0x10, data.data(), 3, 0), kEngineOk);
    EXPECT_EQ(chips->fpga[0]->ram(33, 0x10, 3), data);
    Bytes back(3);
    EXPECT_EQ(pe.fpgaReadRam(33, 0x10, back.data(), 3, 0), kEngineOk);
    EXPECT_EQ(back, data);
    EXPECT_EQ(pe.fpgaWriteRam(33, 0xFFE, data.data(), 3, 0), kEngineFailed) << "past the RAM's end";
    EXPECT_EQ(pe.fpgaWriteRam(256, 0, data.data(), 3, 0), kEngineFailed);

    int told = 0;
    fpga_manage::clock_changed = [&] { ++told; };
    pe.clockChanged();
    EXPECT_EQ(told, 1) << "the PC's clock set reaches the same listener as the mailbox's";
}

TEST_F(FpgaTest, ProtocolParameterSaveStoresTheImageTheStartUpLoads) {
    fpga_manage* e = start();
    e->stopThread();
    uint8_t* image = fpga_manage::MCU_RAM_PARA_func[1];
    std::memcpy(image, fpga_manage::RAM1, 256);
    VlxRamPara::setU16(image, 60, 1920);  // window width
    e->image_loaded[1] = 1;               // as the start-up leaves it
    ASSERT_EQ(protocolEngines().fpgaSaveParameters(1), kEngineOk);
    EXPECT_EQ(chips->flash[1]->read(0x6C7000, 1), Bytes({0xAA}));
    EXPECT_EQ(chips->flash[1]->read(0x6C7001 + 60, 2), Bytes({0x80, 0x07}));
    EXPECT_EQ(chips->flash[0]->read(0x6C7000, 1), Bytes({0xFF})) << "FPGA 1's own flash only";
    EXPECT_EQ(fpga_manage::MCU_RAM_ETH_BACK_PARA_func[1][0], 0x80) << "port buffer rebuilt";
    OutputGeometry g;
    ASSERT_EQ(protocolEngines().fpgaOutputGeometry(1, &g), kEngineOk);
    EXPECT_EQ(g.lcdWidth, 1920);
    EXPECT_EQ(guestErrors(), 0u);
}

TEST_F(FpgaTest, ProtocolCardCountSumsBothCardTablesAcrossEveryPortGroup) {
    start()->stopThread();
    for (uint8_t* image : fpga_manage::MCU_RAM_PARA_func) std::memset(image, 0, 1024);
    auto put = [](int fpga, unsigned at, uint16_t v) {
        fpga_manage::MCU_RAM_PARA_func[fpga][at] = uint8_t(v);
        fpga_manage::MCU_RAM_PARA_func[fpga][at + 1] = uint8_t(v >> 8);
    };
    put(0, 110, 3);      // port 3
    put(0, 572, 500);    // port 7
    put(1, 640, 7);      // port 8 of the second FPGA
    put(1, 668, 40000);  // port 15
    put(0, 104, 99);     // a status byte, not a count
    EXPECT_EQ(fpga_manage::get_port_card_num(3), 3);
    EXPECT_EQ(fpga_manage::get_port_card_num(7), 500);
    EXPECT_EQ(fpga_manage::get_port_card_num(24), 7);
    EXPECT_EQ(fpga_manage::get_port_card_num(31), 40000);
    EXPECT_EQ(fpga_manage::get_port_card_num(32), 0);
    EXPECT_EQ(fpga_manage::get_port_card_num(-1), 0);
    unsigned total = 0;
    ASSERT_EQ(protocolEngines().totalCardCount(&total), kEngineOk);
    EXPECT_EQ(total, 40510u);
}

namespace {

const Bytes kEngineFrame(24, 0x11);

// Sends kEngineFrame on port 0 of FPGA 0 and runs `pcAccess` on a thread of its own while
// the frame sits in transmit RAM 3, written and not yet started; the engine goes on once the
// access waits for the port lock or is done. The RAM accesses the FPGA saw meanwhile.
uint64_t pcRamAccessesInsideASend(fpga_manage* e, plat::sim::SimFpga& chip, const std::function<void()>& pcAccess) {
    auto ramAccesses = [&] {
        const auto c = chip.counters();
        return c.ramReads + c.ramWrites;
    };
    std::mutex m;
    std::condition_variable cv;
    bool waiting = false, done = false;
    uint64_t during = 0;
    std::thread pc;
    FpgaProtocolEngines::port_wait_hook = [&] {
        std::lock_guard<std::mutex> l(m);
        waiting = true;
        cv.notify_all();
    };
    e->tx_ram_written_hook = [&] {
        const uint64_t before = ramAccesses();
        pc = std::thread([&] {
            pcAccess();
            std::lock_guard<std::mutex> l(m);
            done = true;
            cv.notify_all();
        });
        std::unique_lock<std::mutex> l(m);
        EXPECT_TRUE(cv.wait_for(l, std::chrono::seconds(60), [&] { return waiting || done; }));
        during = ramAccesses() - before;
    };
    EXPECT_EQ(e->Send_to_port(kEngineFrame.data(), uint16_t(kEngineFrame.size()), 0, 0), 1);
    e->tx_ram_written_hook = nullptr;
    pc.join();
    FpgaProtocolEngines::port_wait_hook = nullptr;
    return during;
}

}  // namespace

TEST_F(FpgaTest, PcWriteIntoATransmitRamWaitsForTheEngineFrameInIt) {
    fpga_manage* e = start();
    e->stopThread();
    ProtocolEngines& pe = protocolEngines();
    const Bytes pcBytes(24, 0x5A);
    chips->fpga[0]->clearCardLog();
    int written = -1;
    const uint64_t during = pcRamAccessesInsideASend(
        e, *chips->fpga[0], [&] { written = pe.fpgaWriteRam(3, 0, pcBytes.data(), unsigned(pcBytes.size()), 0); });
    EXPECT_EQ(written, kEngineOk);
    EXPECT_EQ(during, 0u);
    std::vector<Bytes> sent;
    for (const auto& r : chips->fpga[0]->cardLog())
        if (!r.answer && r.port == 0) sent.push_back(r.bytes);
    EXPECT_EQ(sent, std::vector<Bytes>{kEngineFrame}) << "the engine's frame goes out whole";
    EXPECT_EQ(chips->fpga[0]->ram(3, 0, pcBytes.size()), pcBytes) << "the PC's bytes landed after the send";
    EXPECT_EQ(guestErrors(), 0u);
}

TEST_F(FpgaTest, PcReadOfATransmitRamWaitsForTheEngineFrameInIt) {
    fpga_manage* e = start();
    e->stopThread();
    Bytes back(kEngineFrame.size());
    int read = -1;
    const uint64_t during = pcRamAccessesInsideASend(
        e, *chips->fpga[0], [&] { read = protocolEngines().fpgaReadRam(3, 0, back.data(), unsigned(back.size()), 0); });
    EXPECT_EQ(read, kEngineOk);
    EXPECT_EQ(during, 0u) << "no PC access between the engine's write of the RAM and its send";
    EXPECT_EQ(back, kEngineFrame);
}
