#pragma once
#include <memory>

#include "platform/file_system.h"
#include "platform/shell.h"
#include "platform/sys.h"

namespace plat::sim {
std::unique_ptr<Sys> makeSys();
std::unique_ptr<Shell> makeShell();
std::unique_ptr<FileSystem> makeFileSystem();
// Steps the simulated board's clock by `ns` (its events run); false when no simulated
// board is in use (a test's own Sys double).
bool passBoardTime(uint64_t ns);
}  // namespace plat::sim
