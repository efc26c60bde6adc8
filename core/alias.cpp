#include "core/alias.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <QMutexLocker>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/platform.h"

namespace pt = boost::property_tree;

namespace {
const char* const kAliasFile = "/data/configs/alias.json";
constexpr int kMaxNesting = 32;  // the file is three levels deep; a deeper one is hostile

// The parser recurses per level: refuse absurd nesting before it can exhaust the stack.
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

// Parse error: the file is useless and is removed; a new one comes with the next transfer.
void dropBrokenFile(const char* what) {
    if (g_debugSwitch == 254) std::printf("json error: %s\n", what);
    writeLogMsg(LOG_ERROR, std::string("alias file does not parse, removed: ") + what);
    Utils::system_mutex(QStringLiteral("rm -rf ") + QString::fromLatin1(kAliasFile));
}
}  // namespace

int get_json_alias_para(ALIAS_PARA* para, std::string type, int id) {
    if (!para) return 0;
    pt::ptree root;
    {
        // The file transfer stores the file under this mutex: never read it half-written,
        // and never remove a file that replaced the broken one meanwhile.
        QMutexLocker lock(&Utils::_file_deal_mutex);
        std::ifstream in(plat::path(kAliasFile), std::ios::binary);
        if (!in) return 0;
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        in.close();
        if (!nestingWithin(text, kMaxNesting)) {
            dropBrokenFile("nesting too deep");
            return 0;
        }
        try {
            std::istringstream ss(text);
            pt::read_json(ss, root);
        } catch (const pt::ptree_error& e) {
            dropBrokenFile(e.what());
            return 0;
        }
    }
    try {
        const auto names = root.get_child_optional("namelist");
        if (!names) {
            writeLogMsg(LOG_WARNING, "alias file has no namelist");
            return 0;
        }
        for (const auto& list : *names) {
            if (list.first != type) continue;
            for (const auto& entry : list.second) {
                const auto entryId = entry.second.get_optional<int>("id");
                if (!entryId || *entryId != id) continue;
                const auto valid = entry.second.get_optional<std::string>("valid");
                const auto name = entry.second.get_optional<std::string>("name");
                if (!valid || !name) {
                    writeLogMsg(LOG_WARNING, "alias entry " + type + " " + std::to_string(id) + " is incomplete");
                    return 0;
                }
                para->id = *entryId;
                para->valid = *valid;
                para->name = *name;
                return para->valid != "off" && !para->name.empty() ? 1 : 0;
            }
        }
    } catch (const pt::ptree_error& e) {
        writeLogMsg(LOG_WARNING, std::string("alias file: ") + e.what());
    }
    return 0;
}
