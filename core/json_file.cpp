// Boost's JSON parser still uses bind's global placeholders: keep them, without the
// header's deprecation note.
#define BOOST_BIND_GLOBAL_PLACEHOLDERS
#include "core/json_file.h"

#include <boost/property_tree/json_parser.hpp>

#include <QMutexLocker>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <sstream>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "platform/shell.h"

namespace pt = boost::property_tree;

namespace jsonfile {
namespace {
// These files are three or four levels deep; the parser recurses per level, so absurd
// nesting is refused before it can exhaust the stack.
constexpr int kMaxNesting = 32;

bool nestingWithin(const std::string& text, int limit) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > limit) return false;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return true;
}
}  // namespace

bool parses(const std::string& text, pt::ptree* root, std::string* error) {
    if (!nestingWithin(text, kMaxNesting)) {
        *error = "nesting too deep";
        return false;
    }
    try {
        std::istringstream ss(text);
        pt::read_json(ss, *root);
        return true;
    } catch (const pt::ptree_error& e) {
        *error = e.what();
    } catch (const std::exception& e) {
        *error = e.what();  // out of memory on an absurd file: refused like a broken one
    }
    return false;
}

Read read(const std::string& path, pt::ptree* root, bool removeBroken) {
    plat::Locker<plat::QtMutex> lock(Utils::_file_deal_mutex);
    std::string text, why;
    switch (plat::readRegularFile(plat::path(path), kMaxBytes, plat::Oversize::Refuse, &text, &why)) {
    case plat::FileRead::Ok: break;
    case plat::FileRead::Missing: return Read::Missing;
    case plat::FileRead::Refused:
        writeLogMsg(LOG_ERROR, path + " " + why + ": not read");
        return Read::Refused;
    }

    std::string error;
    if (parses(text, root, &error)) return Read::Ok;
    if (g_debugSwitch == 254) std::printf("json error: %s\n", error.c_str());
    writeLogMsg(LOG_ERROR, path + " does not parse" + (removeBroken ? ", removed: " : ": ") + error);
    // The file is useless; a new one comes with the next transfer.
    // Removed under the file mutex, which a new file's store takes too: never the new one.
    if (removeBroken && ::unlink(plat::path(path).c_str()) != 0 && errno != ENOENT)
        writeLogMsg(LOG_ERROR, path + " cannot be removed");
    root->clear();
    return Read::Broken;
}

}  // namespace jsonfile
