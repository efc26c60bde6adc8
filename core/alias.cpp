// Boost's JSON parser still uses bind's global placeholders: keep them, without the
// header's deprecation note.
#define BOOST_BIND_GLOBAL_PLACEHOLDERS
#include "core/alias.h"
#include "core/data_files.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <QMutexLocker>

#include <atomic>
#include <cstdio>
#include <sstream>

#include "core/json_file.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"

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
            // Looked up for every name on every screen: said once, not on every lookup.
            static std::atomic<bool> told{false};
            if (!told.exchange(true)) writeLogMsg(LOG_WARNING, "alias file has no namelist: no display names");
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

namespace {
void addEntries(pt::ptree* list, const std::vector<std::pair<const char*, std::string>>& entries) {
    for (const auto& e : entries) {
        pt::ptree entry;
        entry.put("id", e.first);
        entry.put("valid", "off");
        entry.put("name", e.second);
        list->push_back(std::make_pair("", entry));
    }
}
}  // namespace

int Json_create() {
    pt::ptree root;
    root.put("filename", kAliasFile);
    pt::ptree source, usermode, win, crop;
    addEntries(&source, {{"0", "仓库"}, {"2", "机房"}, {"3", "abcdefghijkl"}});
    addEntries(&usermode, {{"0", "User Mode 1"}, {"1", "User Mode 2"}, {"2", "User Mode 3"}});
    addEntries(&win, {{"0", "Window 1"}, {"1", "Window 2"}});
    addEntries(&crop, {{"0", "Crop 1"}, {"1", "Crop 2"}, {"2", "Crop 3"}});
    pt::ptree names;
    names.add_child("source", source);
    names.add_child("usermode", usermode);
    names.add_child("win", win);
    names.add_child("crop", crop);
    root.add_child("namelist", names);

    std::ostringstream text;
    pt::write_json(text, root, true);
    plat::Locker<plat::Mutex> writers(dataFileWriters());
    if (!plat::replaceFileAtomically(plat::path(kAliasFile), text.str())) {
        std::printf("\n open filed !!!");
        writeLogMsg(LOG_ERROR, std::string("sample alias file cannot be written: ") + kAliasFile);
        return 255;
    }
    std::printf("\n create Json OK !!!");
    return 0;
}

void Json_analysis() {
    pt::ptree root;
    if (jsonfile::read(kAliasFile, &root, false) != jsonfile::Read::Ok) return;
    const auto names = root.get_child_optional("namelist");
    if (names) {
        for (const char* list : {"source", "usermode", "win", "crop"}) {
            const auto entries = names->get_child_optional(list);
            if (!entries) continue;
            for (const auto& entry : *entries) {
                std::printf(" id: %s\n", entry.second.get<std::string>("id", "").c_str());
                std::printf("    valid: %s\n", entry.second.get<std::string>("valid", "").c_str());
                std::printf("    name: %s\n", entry.second.get<std::string>("name", "").c_str());
            }
        }
    }
    std::printf("\n read Json over !!!");
    std::fflush(stdout);
}
