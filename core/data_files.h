#pragma once
// Files under /data and /etc that more than one thread rewrites. A rewrite (the read it
// starts from, the new contents' write, their fsync, the rename, the folder's fsync) holds
// the writers' lock throughout, so writers take turns; Utils::_file_deal_mutex stays a
// reader's (and a non-atomic change's: an rm, a copy) and never waits for a flush, since the
// rename shows a reader either the old file or the new one.
#include "platform/annotated_mutex.h"

plat::Mutex& dataFileWriters();
