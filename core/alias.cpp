#include "core/alias.h"

#include <boost/property_tree/ptree.hpp>

#include "core/json_file.h"
#include "core/logMsg.h"

namespace pt = boost::property_tree;

namespace {
const char* const kAliasFile = "/data/configs/alias.json";
}  // namespace

int get_json_alias_para(ALIAS_PARA* para, std::string type, int id) {
    if (!para) return 0;
    pt::ptree root;
    if (jsonfile::read(kAliasFile, &root, true) != jsonfile::Read::Ok) return 0;
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
