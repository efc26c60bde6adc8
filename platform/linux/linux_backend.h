#pragma once
#include <memory>

#include "platform/shell.h"
#include "platform/sys.h"

namespace plat::linuxdev {
std::unique_ptr<Sys> makeSys();
std::unique_ptr<Shell> makeShell();
}  // namespace plat::linuxdev
