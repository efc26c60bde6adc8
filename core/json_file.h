#pragma once
// Reading the JSON files a PC sends (alias and on-screen-menu files).
#include <boost/property_tree/ptree.hpp>

#include <string>

namespace jsonfile {

enum class Read {
    Ok,       // parsed into the tree
    Missing,  // the file cannot be opened
    Broken,   // the text does not parse (or nests absurdly deep)
};

// Reads and parses `path` (device path, e.g. "/data/configs/alias.json") while holding
// Utils::_file_deal_mutex, under which the file transfer stores these files: a file is
// never read half-written. A broken file is reported ("json error: %s" at debug level
// 254, and a log line) and, when `removeBroken`, removed before the mutex is released,
// so a file that replaced it meanwhile is never deleted for it.
Read read(const std::string& path, boost::property_tree::ptree* root, bool removeBroken);

}  // namespace jsonfile
