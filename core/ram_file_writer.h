#pragma once
// The parameter file's writer. The GUI thread saves the RAM to /data/ram_device_info after
// every change it is told of; replacing the file (temporary file, fsync of file and folder,
// rename) and the sync after it take from a millisecond to well over 100 ms on a busy data
// partition, and on the GUI thread the next touch would wait for them. The GUI thread
// still takes its copy of the RAM under manage_mutex and hands it over here; the writer's
// own thread ("ram-file") writes it. Copies handed over while a write runs are coalesced:
// the next write takes the newest. The thread sleeps while nothing waits to be written.
//
// A copy not yet written when the power goes is lost as a save cut short would be: the file
// holds the previous image whole. Nothing acknowledged to a PC waits on this file while the
// program runs; its stop saves the RAM itself (saveAtStop).
#include <cstdint>

class RamFileWriter {
public:
    // Hands over a copy of the whole RAM (4096 bytes; the file takes 0x300..0xFFF). Takes the
    // writer's lock for the copy only, never waits for a write; starts the thread on the
    // first call.
    static void save(const unsigned char* ram);
    // Waits until every copy handed over before the call is written or its write failed:
    // the reboot, the program's stop, a reset of the file, tests reading the file.
    static void flush();
    // The program's stop, once the links answer no more: `ram`, the RAM as it is now (every
    // change a PC was answered for in it, applied or still waiting for the manager's pass), is
    // in the file when this returns (true), after one write of the file on the caller's thread:
    // it waits neither for a write of the writer's thread under way nor for any other file's.
    // Such an older copy is superseded: it lands before the stop's or not at all, and the file
    // is whole at any moment. Without a copy (nullptr: the RAM's lock was held too long) the
    // file keeps the copies handed over before, once written, and false is returned. From the
    // first call on, copies handed to save() are dropped: they are no newer than the stop's.
    static bool saveAtStop(const unsigned char* ram);
    // The RAM is owed to the file: the last write failed (a full data partition, a missing
    // file) and no newer copy waits. The next change notification saves again.
    static bool owed();
    // Tests: the power cycle of a test (VlxRamPara::resetInstanceForTest). Waits as flush()
    // does, then owes nothing, as the writer of a program just started.
    static void resetForTest();
};
