#pragma once
// On-screen-menu file reader (/data/configs/omenu.json and the per-mode copies).
#include <string>

struct OMENU_PARA {
    int osd_count = 0;    // "osdcount", first record of a list only
    int oact_count = 0;   // "oactcount", first record of a list only
    int type = 0;         // 0 text, 1 bitmap
    std::string status;   // "on" shows the menu
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    int effect = 0;
    int speed = 0;
    int staytime = 0;
    std::string back_enable;
    std::string back_color;
    std::string layer;    // "buttom" puts the overlay below the windows
    int startx = 0;
    int starty = 0;
    int fontw = 0;
    int fonth = 0;
    int wordspace = 0;
    int verticalspace = 0;
    std::string font_color;
    std::string text;
    int bmp_start = 0;
    int bmp_end = 0;
};

struct OSD_LIST {
    OMENU_PARA menu[3];
    OMENU_PARA& operator[](int i) { return menu[i]; }
    const OMENU_PARA& operator[](int i) const { return menu[i]; }
};

// The menu the scaler applies (filled on the C331 manager thread under its mutex).
extern OSD_LIST g_osd_list;

// `path` is the device path ("/data/configs/omenu.json"). The first record's osd count
// is 0 unless the file was read completely; then it is "osdcount", but never more than
// the records the file filled, and records the file did not fill are cleared.
void get_json_omenu_para(const char* path, OSD_LIST* list);
