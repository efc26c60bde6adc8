#pragma once
// Static helpers shared by every subsystem, and the process-wide mutexes.
#include <QMutex>
#include <QString>
#include <QStringList>

#include <string>

#include "platform/annotated_mutex.h"

class Utils {
public:
    // --- ticks
    // Ticks elapsed since start; one less across a wrap of the counter.
    static unsigned int getTimeSpace(unsigned int start);

    // --- clock
    // A date and time as the clock commands carry it: seven BCD bytes, year low two digits,
    // century, month, day, hour, minute, second. True only for a real calendar time the
    // board's clock can hold (32-bit time_t: years kClockFirstYear..kClockLastYear), with
    // the day checked against its month and February against leap years.
    static constexpr int kClockFirstYear = 1970;
    static constexpr int kClockLastYear = 2037;
    struct ClockTime {
        int year, month, day, hour, minute, second;
    };
    static bool clockFromBcd(const unsigned char bcd[7], ClockTime* out);
    // The shell command that sets the system clock to a time clockFromBcd() accepted.
    static QString dateCommand(const ClockTime& t);

    // --- checks
    static unsigned char BCC(const unsigned char* data, unsigned int length);
    static unsigned int calcCRC32(const unsigned char* data, unsigned int length);
    static unsigned short teskCalcCRC16(const unsigned char* data, unsigned int length);
    static unsigned short calcCRC16(const unsigned char* data, unsigned int length);
    static unsigned short zuf1CRC16Code(const unsigned char* data, unsigned int length);

    // --- shell: 0 when the raw status was 0, else 255; raw status into *status. Commands
    // run one at a time (system() is not thread-safe) under the runner's own lock, which
    // nothing else takes and under which nothing else is taken.
    static int system_mutex(const QString& command, int* status = nullptr);
    // Stops every running `program` (a fixed name) by the process ids pidof reports, each
    // with its own kill through the runner; only all-digit ids are taken.
    static void stopProgram(const std::string& program);

    // --- text and files
    static int stringToInt(const std::string& text);
    static std::string intToString(int value);
    static int isFileExists(const std::string& path, bool regularOnly);
    static int isDirExists(const std::string& path);
    static void get_file_list_smartpath(QStringList& list, const QString& dir, const QString& suffix);
    static void change_file_formt(const std::string& path);
    static int ChangeCode(const char* from, const char* to, const char* in, size_t inLen, char* out, size_t outLen);
    static int GB2312ToUTF8(const char* in, size_t inLen, char* out, size_t outLen);
    static int GB2312ToUnicode(const char* in, size_t inLen, char* out, size_t outLen);
    static int UTF8ToUnicode(const char* in, size_t inLen, char* out, size_t outLen);
    static int UnicodeToUTF8(const char* in, size_t inLen, char* out, size_t outLen);
    static int UTF8ToGB2312(const char* in, size_t inLen, char* out, size_t outLen);
    static int UnicodeToGB2312(const char* in, size_t inLen, char* out, size_t outLen);

    // --- network set-up and flash partitions (utils_net.cpp)
    static int getIPAddress();
    static int initIPAddress();
    // Stores address, mask and gateway (and the TCP port when above 0) in one replacement
    // of tcpip.ini and sets eth0 up with exactly that set, as one step against every other
    // network-settings writer.
    enum NetStore { kNetApplied = 0, kNetNotStored = 1, kNetNotApplied = 2 };
    static int storeAndApplyNetwork(const QString& ip, const QString& mask, const QString& gateway, int tcpPort = 0);
    static int non_region_erase(int fd, int offset, int length, int unlock);
    static int non_region_write(int fd, const unsigned char* data, int length, int offset);

    // --- process-wide locks (the table of every lock and its order: docs/architecture.md, "Locks")
    static plat::QtMutex _system_mutex;          // the engine's output requests and clock read; never held across a shell command
    static plat::QtMutex _spi_mutex;             // one SPI bus operation; the FPGAs' reset lines
    static plat::QtMutex _c331_bnk_mutex;        // the scaler's bank select with its access (before _spi_mutex)
    static plat::QtMutex _file_deal_mutex;       // files under /data: held for a read or a change that is no atomic
                                          // replace (an rm, a copy); rewrites take dataFileWriters() (core/data_files.h).
                                          // Never across a sync or an fsync, a sleep, a shell command or a flash erase or program
    static plat::QtMutex _test_signal_mutex;     // the emission of a change code
    static plat::QtMutex _source_init_mutex;     // the input chips' set-up
    static plat::QtMutex _source_hdminfo_mutex;  // kavelsource::hdminfo[], written and read whole
    static plat::QtMutex _check_nosig_mutex;     // the scaler's no-signal check state
    static plat::QtMutex _bri_set_mutex;         // taking and putting back the FPGA brightness request
    static plat::QtMutex _led_para_init_mutex;   // the LED-geometry hand-shake's steps
    // The scaler's receiver reader runs inside c331in::readReceiver's hold of
    // _source_hdminfo_mutex, which the analysis cannot follow through the reader's pointer.
    static void sourceRecordsHeld() ASSERT_CAPABILITY(_source_hdminfo_mutex) {}
    // The settings: the network and cloud globals copied from tcpip.ini (core/global.h) and
    // the config items (ConfigEngine), written by protocol threads and the screens, read by
    // every thread. Held for copies and the INI file's replacement only.
    static plat::QtMutex _settings_mutex;
};
