#include "core/omenu.h"

#include <boost/property_tree/ptree.hpp>

#include <cstdio>
#include <cstring>

#include "core/global.h"
#include "core/json_file.h"
#include "core/logMsg.h"

namespace pt = boost::property_tree;

OSD_LIST g_osd_list;

namespace {
const char* const kMenuFile = "/data/configs/omenu.json";

// get<> throws ptree_bad_path / ptree_bad_data for a missing key or a wrong type.
// Position and animation, common to text and bitmap menus.
void readPlacement(const pt::ptree& m, OMENU_PARA& r) {
    r.x = m.get<int>("pos.x");
    r.y = m.get<int>("pos.y");
    r.w = m.get<int>("pos.w");
    r.h = m.get<int>("pos.h");
    r.effect = m.get<int>("act.effect");
    r.speed = m.get<int>("act.speed");
    r.staytime = m.get<int>("act.staytime");
}

void readText(const pt::ptree& m, OMENU_PARA& r) {
    readPlacement(m, r);
    r.layer = m.get<std::string>("pos.layer", "");
    r.back_enable = m.get<std::string>("backpara.enable");
    r.back_color = m.get<std::string>("backpara.color");
    r.startx = m.get<int>("fontpara.startx");
    r.starty = m.get<int>("fontpara.starty");
    r.fontw = m.get<int>("fontpara.fontw");
    r.fonth = m.get<int>("fontpara.fonth");
    r.wordspace = m.get<int>("fontpara.wordspace");
    r.verticalspace = m.get<int>("fontpara.verticalspace");
    r.font_color = m.get<std::string>("fontpara.color");
    const pt::ptree& texts = m.get_child("texts");
    // first element of the array; an empty array is an empty text
    r.text = texts.empty() ? texts.data() : texts.front().second.get_value<std::string>();
}

void readBitmap(const pt::ptree& m, OMENU_PARA& r) {
    readPlacement(m, r);
    r.bmp_start = m.get<int>("bmppara.start");
    r.bmp_end = m.get<int>("bmppara.end");
}

void printList(const OSD_LIST& l, int count) {
    std::printf("\n *************************START OSDS******************************** ");
    for (int k = 0; k < count && k < 3; ++k) {
        const OMENU_PARA& r = l.menu[k];
        std::printf("\n menu %d: type %d status %s pos %d,%d %dx%d effect %d speed %d text \"%s\"", k + 1,
                    r.type, r.status.c_str(), r.x, r.y, r.w, r.h, r.effect, r.speed, r.text.c_str());
    }
    std::printf("\n *************************OSDS OVER******************************** \n");
}
}  // namespace

void get_json_omenu_para(const char* path, OSD_LIST* list) {
    if (!list || !path) return;
    // Every failure leaves a list the applier ignores.
    list->menu[0].osd_count = 0;
    const bool isWorkingFile = std::strcmp(path, kMenuFile) == 0;
    pt::ptree root;
    // Only the working file is removed when broken; a mode's copy stays as it was saved.
    if (jsonfile::read(path, &root, isWorkingFile) != jsonfile::Read::Ok) return;

    OSD_LIST next = *list;
    int count = 0;
    int read = 0;  // records filled from this file
    try {
        root.get<std::string>("name", "");
        count = root.get<int>("osdcount");
        const int active = root.get<int>("oactcount");
        next.menu[0].oact_count = active;
        if (count != 0) {
            const pt::ptree& menus = root.get_child("menu");
            if (menus.empty()) throw pt::ptree_bad_path("menu has no element", pt::ptree::path_type("menu"));
            int k = 0;
            for (const auto& m : menus) {
                if (k == 3) break;
                // Fields this menu's type does not carry keep what an earlier read left;
                // the list changes only once the whole file has been read.
                OMENU_PARA r = next.menu[k];
                if (k == 0) r.oact_count = active;
                r.type = m.second.get<int>("type");
                r.status = m.second.get<std::string>("status");
                if (r.type == 0) readText(m.second, r);
                else if (r.type == 1) readBitmap(m.second, r);
                next.menu[k++] = r;
            }
            read = k;
        }
    } catch (const pt::ptree_error& e) {
        writeLogMsg(LOG_ERROR, std::string("menu file ") + path + " is incomplete: " + e.what());
        return;
    }
    // The applier shows as many records as the count says: it names the records this
    // file filled, and a record this file did not fill holds nothing of an earlier one.
    for (int k = read; k < 3; ++k) {
        const int active = next.menu[k].oact_count;
        next.menu[k] = OMENU_PARA{};
        if (k == 0) next.menu[0].oact_count = active;
    }
    next.menu[0].osd_count = count < 0 ? 0 : (count > read ? read : count);
    *list = next;
    if (g_debugSwitch == 254) printList(*list, next.menu[0].osd_count);
}
