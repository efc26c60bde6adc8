#include "core/data_files.h"

plat::Mutex& dataFileWriters() {
    static plat::Mutex writers{plat::Lock::FileWriters};   // any thread that rewrites a data file
    return writers;
}
