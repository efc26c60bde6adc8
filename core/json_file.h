#pragma once
// Reading the JSON files a PC sends (alias and on-screen-menu files).
#include <boost/property_tree/ptree.hpp>

#include <cstddef>
#include <string>

namespace jsonfile {

// The largest menu or alias file a PC sends is a few KiB; anything far beyond is no such file.
constexpr size_t kMaxBytes = 1024 * 1024;

enum class Read {
    Ok,       // parsed into the tree
    Missing,  // no such file
    Refused,  // a folder, pipe or device, unreadable, or far too large: logged, left alone
    Broken,   // the text does not parse (or nests absurdly deep)
};

// Reads and parses `path` (device path, e.g. "/data/configs/alias.json") while holding
// Utils::_file_deal_mutex, under which the file transfer stores these files: a file is
// never read half-written. A broken file is reported ("json error: %s" at debug level
// 254, and a log line) and, when `removeBroken`, removed before the mutex is released,
// so a file that replaced it meanwhile is never deleted for it.
Read read(const std::string& path, boost::property_tree::ptree* root, bool removeBroken);

// True when `text` parses as these files are read; else false and the parser's complaint in
// `error`. The file transfer checks a file with it before it replaces the stored one.
bool parses(const std::string& text, boost::property_tree::ptree* root, std::string* error);

}  // namespace jsonfile
