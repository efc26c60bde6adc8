// The one list of the controller's locks: what each guards, the waits it may be held across
// and their bounds, and what may be taken while it is held. The lock check reads it
// (lock_check.cpp) and docs/architecture.md's table is made from it (markdownTable();
// tests/platform/lock_check_test.cpp compares the two and prints the table when they differ).
#include <array>
#include <cstdio>
#include <cstdlib>

#include "platform/lock_check.h"

namespace plat {
namespace lockcheck {

namespace {
using L = Lock;
using W = Wait;

struct Take {
    Lock inner;
    const char* why = "";
};
struct Across {
    Wait wait;
    const char* bound;
};
struct Row {
    Lock lock;
    const char* name;   // Markdown, as the document and the other rows name it
    const char* where;
    const char* guards;
    std::vector<Across> across;   // the waits it may be held across
    std::vector<Take> takes;      // what may be taken while it is held (its nestings)
    const char* underAny = "";    // why it may be taken under any lock, or ""
};

const std::vector<Row>& rows() {
    static const std::vector<Row> kRows = {
        {L::PassTurn, "pass turn", "(`g_passTurns`, `control_link.cpp`)",
         "one pass-through exchange at a time, in turns by machine (a TCP client, a serial line, the UDP "
         "senders of one source address: each machine with one waiting gets a turn in its round, its own in "
         "the order they came) (only the links take it; the engine's passes, which its wait needs, never do)",
         {{W::HandOver, "the cards' answer: 3 s, 0.8 s each with others queued"}, {W::Sleep, "an FPGA's restart: 8 s"}},
         {{L::EnginesInUse, "then the engine's locks"}, {L::ReplySlot}}},
        {L::EnginesInUse, "`ProtocolEnginesInUse`", "(shared)",
         "the installed protocol engines while a frame's handler may call them; a wait under it holds up only "
         "the engines' swap (start-up, tests)",
         {{W::Sleep, "the handler's own waits"},
          {W::Shell, "the handler's own waits"},
          {W::Fsync, "the handler's own waits"},
          {W::FlashWait, "the handler's own waits"},
          {W::HandOver, "the handler's own waits"}},
         {{L::Any, "a frame's handler takes what it needs"}}},
        {L::AppInstall, "`g_app_install_mutex`", "",
         "one application install, from the image's write through the swap (only installers take it; a "
         "protocol upload's end waits)",
         {{W::Shell, "the swap's commands"},
          {W::Sleep, "the swap's pauses"},
          {W::Fsync, "the image's write"},
          {W::FlashWait, "the USB upgrade's bitstream and font programs after its image"}},
         {{L::FileDeal},
          {L::FileWriters},
          {L::ShellRunner},
          {L::UsbText},
          {L::FpgaUpdate, "the USB upgrade's bitstreams"},
          {L::C331Flash, "its font"},
          {L::C331Bank, "its font"},
          {L::RegFile, "its font"},
          {L::PrintSink, "its font"}}},
        {L::NetSettings, "`netSettingsMutex`", "(`utils_net.cpp`)",
         "one network store with the eth0 set-up that follows (only the network-settings writers take it)",
         {{W::Shell, "the eth0 set-up"}, {W::Fsync, "the store"}},
         {{L::SettingsWriters}, {L::Settings}, {L::ShellRunner}}},
        {L::PartitionStore, "partition-store lock", "(`flashStore`, `file_transfer.cpp`)",
         "one partition's erase and program from a link, and `fileBuf_kavel` (only that store takes it)",
         {{W::FlashWait, "one partition's erase and program"},
          {W::Sleep, "one partition's erase and program"},
          {W::Fsync, "one partition's program"}},
         {}},
        {L::Manage, "`c331_manage::manage_mutex`", "(`ManageMutexLocker`)",
         "RAM bytes 0x000..0xFFF (`GUARDED_BY`, but the input timings), the save requests' count, `update_flag` "
         "with them, the manager's base (`applied_ram`), the engine's last sent brightness (`sent_brightness_`); "
         "the pass lets it go across each wait for a frame of the chip (`PassHoldReleased`: a re-layout's waits, "
         "a fade's steps) and takes it back after it",
         {},
         {{L::VlxRam},
          {L::RegFile},
          {L::LedParaInit},
          {L::CheckNoSig},
          {L::C331Bank},
          {L::Spi, "the pass's chip writes"},
          {L::BriSet, "the brightness request raised"},
          {L::TestSignal, "the pass's change code"},
          {L::PrintSink, "the scaler's prints"},
          {L::RamFileWriter, "a change code handled where it is raised, on the GUI thread"},
          {L::Settings, "a change code handled where it is raised, on the GUI thread"},
          {L::SourceHdmiInfo, "the pass's read of a receiver's record"}}},
        {L::C331Flash, "`c331_manage::flash_mutex`", "(recursive)",
         "one flash, DMA and drawing sequence of the scaler (only flash jobs and the OSD take it; the pass only "
         "with `try_lock`); `manage_mutex` is never taken under it",
         {{W::FlashWait, "one scaler flash sequence"}, {W::Sleep, "one scaler flash sequence"}},
         {{L::PrintSink}, {L::RegFile, "the font bits"}, {L::C331Bank}, {L::Spi}}},
        {L::VlxRam, "`VlxRamPara::vlx_mutex`", "",
         "the input timings (0x100..0x123, `copyInputTiming`/`storeInputTiming`), every copy of RAM bytes, the "
         "RAM's write stamps (`casRam`) and the shadow (`GUARDED_BY`)",
         {},
         {}},
        {L::ModeSlots, "`VlxRamPara::mode_mutex`", "",
         "the user-mode slots and their write stamps (`GUARDED_BY`), for a copy or a compare-and-set only",
         {},
         {}},
        {L::RegFile, "`VlxRamPara::reg_file_mutex_`", "",
         "the register file (`GUARDED_BY`): its read-modify-writes and the PC's reads",
         {},
         {}},
        {L::SourcePass, "`kavelsource::passMutex_`", "",
         "one input-source pass (its records and chip state, `GUARDED_BY`); only the source thread and the "
         "scaler's debug read wait for it; never taken while holding `manage_mutex`",
         {{W::Sleep, "an EDID EEPROM write's acknowledgement polls and a receiver's reset pulse"},
          {W::Fsync, "the EDID check's one settings store"}},
         {{L::Manage, "the EDID words set back"},
          {L::SourceHdmiInfo},
          {L::SourceInit},
          {L::VideoI2c},
          {L::Settings, "the EDID check's store"},
          {L::SettingsWriters, "the EDID check's store"}}},
        {L::SourceHdmiInfo, "`Utils::_source_hdminfo_mutex`", "",
         "`kavelsource::hdminfo[]` (`GUARDED_BY`), written and read whole",
         {},
         {{L::VlxRam, "the input timing stored with the record"}}},
        {L::SourceInit, "`Utils::_source_init_mutex`", "", "the input chips' set-up; only the source thread waits for it",
         {{W::Sleep, "a receiver's reset pulse at start-up"}, {W::Fsync, "the EDID check's one settings store"}},
         {{L::VideoI2c},
          {L::SourceHdmiInfo, "a receiver's record and status set by the set-up"},
          {L::RegFile, "a receiver's record and status set by the set-up"},
          {L::Manage, "the EDID check's RAM words at start-up"},
          {L::SettingsWriters, "the EDID check's store"},
          {L::Settings, "the EDID check's store"}}},
        {L::VideoI2c, "`video_i2c` bus mutex", "", "one I2C transfer", {}, {}},
        {L::FpgaObject, "`fpga_manage::object_mutex`", "", "the transports' pass-through into the engine", {},
         {{L::FpgaPort}, {L::ReplySlot}}},
        {L::FpgaPort, "`fpga_manage::port_mutex`", "(recursive)",
         "each transmit sequence (RAM write, length, start), each received frame's read and release, a PC's read "
         "or write of a port RAM (2..17), the card search and pass-through state (`GUARDED_BY`); the search looks "
         "at the PC's window under it before each frame",
         {{W::Sleep, "a port's transmit buffer coming free: 3 s for a stuck port, a frame's time otherwise"}},
         {{L::FpgaImage}, {L::Schedule}, {L::FpgaReg}, {L::Spi}, {L::MailboxRam}, {L::ReplySlot}}},
        {L::FpgaImage, "`fpga_manage::image_mutex`", "",
         "the RAM-1 images and port buffers (`MCU_RAM_PARA_func`, `MCU_RAM_ETH_BACK_PARA_func`)",
         {},
         {{L::Spi, "a write bound for the FPGA keeps the image lock through its transfer"}}},
        {L::FpgaReg, "`fpga_manage::reg_mutex`", "", "the register mirrors", {}, {}},
        {L::Schedule, "`g_schedule_mutex`", "",
         "the brightness task's level, reload request and sensor count, the brightness mode and half-hour "
         "levels, the on/off times and their pending flags",
         {},
         {}},
        {L::MailboxRam, "`mailboxRamMutex()`", "", "the PC's mailbox and extend RAM (`MCU_RAM_CMD`, `MCU_RAM_EXTEND`)",
         {},
         {}},
        {L::FpgaUpdate, "`fpga_drv::update_mutex`", "",
         "an erase-and-program or record read of the FPGA flashes, a parameter save with its read-back (only "
         "flash writers and record readers take it)",
         {{W::FlashWait, "an FPGA-flash erase and program: 4 s"}, {W::Sleep, "an FPGA-flash erase and program: 4 s"}},
         {{L::Spi}, {L::System, "the clock read of the record it programs"}}},
        {L::ClockRecord, "`clock_record_run::mutex_`", "", "the operating-time recorder",
         {{W::FlashWait, "one record's erase and program"}, {W::Sleep, "one record's erase and program"}},
         {{L::FpgaUpdate}, {L::System, "the clock read"}}},
        {L::Spi, "`Utils::_spi_mutex`", "",
         "one SPI bus operation, the FPGAs' reset lines; an FPGA flash's window (`FlashWindow`) holds it for one "
         "operation, from a ready status on, and lets it go (`FlashWindow::Pause`) between two pages and across "
         "an erase's busy wait",
         {},
         {}},
        {L::C331Bank, "`Utils::_c331_bnk_mutex`", "", "the scaler's bank select with its access", {}, {{L::Spi}}},
        {L::BriSet, "`Utils::_bri_set_mutex`", "", "taking and putting back the FPGA brightness request", {}, {}},
        {L::LedParaInit, "`Utils::_led_para_init_mutex`", "", "the LED-geometry hand-shake's steps", {}, {}},
        {L::CheckNoSig, "`Utils::_check_nosig_mutex`", "", "the scaler's no-signal check state (`nosig_check`, `GUARDED_BY`)",
         {},
         {}},
        {L::ChangeMailbox, "a change mailbox's lock", "(`ChangeMailbox::mutex_`, `core/change_mailbox.h`)",
         "the codes waiting for the GUI thread in that mailbox (`GUARDED_BY`); held for one look at the few "
         "codes, released before the GUI thread is woken",
         {},
         {}},
        {L::TestSignal, "`Utils::_test_signal_mutex`", "", "the emission of a change code", {}, {{L::ChangeMailbox}}},
        {L::SettingsWriters, "settings writers' lock", "(`g_iniWriter`, `config_engine.cpp`)",
         "one replacement of `tcpip.ini` at a time",
         {{W::Fsync, "one `tcpip.ini` replacement"}},
         {{L::Settings, "for the copies in and out only"}}},
        {L::Settings, "`Utils::_settings_mutex`", "",
         "the settings: network and cloud globals, the config items (`GUARDED_BY`); never held across the INI "
         "file's replacement",
         {},
         {}},
        {L::FileDeal, "`Utils::_file_deal_mutex`", "",
         "files under `/data`, for a read or a change that is not one atomic replacement (an `rm`, a copy); never "
         "across an `fsync`",
         {},
         {}},
        {L::FileWriters, "`dataFileWriters()`", "(`core/data_files.h`)",
         "one rewrite of a file under `/data` or `/etc`, from the read it starts from through the rename and its "
         "`fsync`s (only writers take it)",
         {{W::Fsync, "one data file's replacement: a mode file and its menu copy"}},
         {{L::FileDeal}, {L::WifiConfig, "the settings the files hold"}}},
        {L::RamFileWriter, "`RamFileWriter`'s hand-over lock", "(`core/ram_file_writer.cpp`)",
         "the newest RAM copy handed to the `ram-file` thread, the counts handed over and written, the owed flag "
         "(`GUARDED_BY`), the order of the parameter file's renames (the thread's and the stop's, superseded or "
         "not); held for one copy, count or rename, never across a flush",
         {},
         {}},
        {L::System, "`Utils::_system_mutex`", "", "the engine's output-position and on/off requests; the clock read", {},
         {}},
        {L::ShellRunner, "the shell runner's lock", "(`Utils::system_mutex`)",
         "one shell command at a time (only the runner takes it)",
         {{W::Shell, "one command"}},
         {}},
        {L::FlashUid, "`g_flash_uid_mutex`", "", "nothing (declared, no user)", {}, {}},
        {L::RcvRecoveryList, "`rcvRecovery::list_mutex_`", "", "its object's two folder lists", {}, {}},
        {L::UsbText, "`fpga_manage::usb_text_mutex_`", "", "the USB upgrade's texts for the panel", {},
         {{L::System, "the clock read for the upgrade's times"}}},
        {L::WifiConfig, "`H71_WIFI_CONFIG::mutex_`", "", "its object's WiFi settings (`settings_`)", {}, {}},
        {L::ReplySlot, "a reply slot's lock", "(`pass_reply.cpp`)", "one transport's queued pass-through answers", {},
         {}},
        {L::PassTurnCounters, "the pass turn's counters", "(`control_link.cpp`)",
         "the pass turn's own state (a leaf inside one object)",
         {},
         {}},
        {L::KavelInstance, "`g_instanceMutex`", "(`kavelsource.cpp`)", "the input-source manager's creation and removal",
         {},
         {}},
        {L::PrintSink, "`g_sinkMutex`", "(`c331_print.cpp`)",
         "the scaler's print sink and each line through it; a line to stdout is written after it is let go",
         {},
         {}},
        {L::Log, "`g_logMutex`", "(`logMsg.cpp`)", "the log file and the entries not yet in it", {}, {},
         "every thread logs"},
        {L::Backend, "`g_backendMutex`", "(`platform/backend.cpp`)", "making or replacing the system and shell backends",
         {},
         {},
         "they are made on first use"},
        {L::Pacer, "a worker pacer's lock", "(`plat::WorkerPacer`)", "its pacer's pause and wake (a leaf)", {}, {}},
        {L::WakeSlot, "a wake slot's lock", "(`plat::WakeSlot`)", "the pacer it wakes", {}, {{L::Pacer}},
         "a wake never blocks"},
    };
    return kRows;
}

// Each lock has one row: checked once, before anything reads the list.
const std::vector<Row>& checkedRows() {
    static const std::vector<Row>& r = [] () -> const std::vector<Row>& {
        std::array<int, size_t(Lock::Any)> seen{};
        for (const Row& row : rows()) ++seen[size_t(row.lock)];
        for (size_t i = 0; i < seen.size(); ++i)
            if (seen[i] != 1) {
                std::fprintf(stderr, "lock table: lock %u has %d rows\n", unsigned(i), seen[i]);
                std::abort();
            }
        return rows();
    }();
    return r;
}

std::string withoutMarks(const char* markdown) {
    std::string out;
    for (const char* c = markdown; *c; ++c)
        if (*c != '`') out += *c;
    return out;
}

const Row& rowOf(Lock l) {
    static const std::array<const Row*, size_t(Lock::Any)> byLock = [] {
        std::array<const Row*, size_t(Lock::Any)> at{};
        for (const Row& row : checkedRows()) at[size_t(row.lock)] = &row;
        return at;
    }();
    return *byLock[size_t(l)];
}

std::string refTo(Lock l) { return l == Lock::Any ? "any lock" : rowOf(l).name; }

std::string acrossCell(const Row& row) {
    std::string out;
    for (size_t i = 0; i < row.across.size(); ++i) {
        const bool sameBound = i > 0 && std::string(row.across[i].bound) == row.across[i - 1].bound;
        if (i > 0) out += sameBound ? ", " : "; ";
        out += waitName(row.across[i].wait);
        if (i + 1 == row.across.size() || std::string(row.across[i].bound) != row.across[i + 1].bound)
            out += std::string(" (") + row.across[i].bound + ")";
    }
    return out.empty() ? "none" : out;
}

std::string takesCell(const Row& row) {
    std::string out;
    for (const Take& t : row.takes) {
        if (!out.empty()) out += ", ";
        out += refTo(t.inner);
        if (*t.why) out += std::string(" (") + t.why + ")";
    }
    if (out.empty()) out = "nothing";
    if (*row.underAny) out += std::string("; taken under any lock (") + row.underAny + ")";
    return out;
}

}  // namespace

const std::vector<LockRow>& lockRows() {
    static const std::vector<LockRow> out = [] {
        std::vector<LockRow> v;
        for (const Row& r : checkedRows()) v.push_back({r.lock, r.name, r.where, r.guards});
        return v;
    }();
    return out;
}

const std::vector<Nesting>& nestings() {
    static const std::vector<Nesting> out = [] {
        std::vector<Nesting> v;
        for (const Row& r : checkedRows()) {
            for (const Take& t : r.takes) v.push_back({r.lock, t.inner, t.why});
            if (*r.underAny) v.push_back({Lock::Any, r.lock, r.underAny});
        }
        return v;
    }();
    return out;
}

const std::vector<WaitUnder>& waitsUnder() {
    static const std::vector<WaitUnder> out = [] {
        std::vector<WaitUnder> v;
        for (const Row& r : checkedRows())
            for (const Across& a : r.across) v.push_back({r.lock, a.wait, a.bound});
        return v;
    }();
    return out;
}

std::string markdownTable() {
    std::string out = "| Lock | Guards | Held across (bound) | Held while taking (order) |\n|---|---|---|---|\n";
    for (const Row& r : checkedRows()) {
        out += "| " + std::string(r.name) + (*r.where ? std::string(" ") + r.where : std::string()) + " | " +
               r.guards + " | " + acrossCell(r) + " | " + takesCell(r) + " |\n";
    }
    return out;
}

}  // namespace lockcheck

const char* lockName(Lock l) {
    static const std::array<std::string, size_t(Lock::Count)> names = [] {
        std::array<std::string, size_t(Lock::Count)> n;
        for (size_t i = 0; i < size_t(Lock::Any); ++i) n[i] = lockcheck::withoutMarks(lockcheck::rowOf(Lock(i)).name);
        n[size_t(Lock::Any)] = "any lock";
        return n;
    }();
    return size_t(l) < size_t(Lock::Count) ? names[size_t(l)].c_str() : "?";
}

}  // namespace plat
