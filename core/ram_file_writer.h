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
// holds the previous image whole. Nothing acknowledged to a PC waits on this file.
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
    // The RAM is owed to the file: the last write failed (a full data partition, a missing
    // file) and no newer copy waits. The next change notification saves again.
    static bool owed();
    // Test hook: a write that failed under a finished test's root is owed to no later test.
    static void forgetOwedForTest();
};
