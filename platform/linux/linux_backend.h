#pragma once
#include <memory>

#include "platform/file_system.h"
#include "platform/shell.h"
#include "platform/sys.h"

namespace plat::linuxdev {
std::unique_ptr<Sys> makeSys();
std::unique_ptr<Shell> makeShell();
std::unique_ptr<FileSystem> makeFileSystem();
}  // namespace plat::linuxdev
