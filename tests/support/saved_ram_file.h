#pragma once
// The parameter file once every save handed to its writer thread is written.
#include <string>

#include "core/ram_file_writer.h"
#include "support/testkit.h"

namespace testkit {

inline std::string savedRamFile() {
    RamFileWriter::flush();
    return readFile("/data/ram_device_info");
}

}  // namespace testkit
