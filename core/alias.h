#pragma once
// Display names from /data/configs/alias.json ("namelist": "source", "usermode", "win", "crop").
#include <string>

struct ALIAS_PARA {
    int id = 0;
    std::string valid;  // "off" hides the entry
    std::string name;
};

// 1 when the entry `id` of list `type` exists, is not "off" and has a name; else 0.
// A matched entry fills `para` even when the result is 0.
int get_json_alias_para(ALIAS_PARA* para, std::string type, int id);

// Writes a sample alias file (every entry "valid": "off"). 0 when written, 255 when not.
int Json_create();
// Prints every entry of the four lists of the alias file.
void Json_analysis();
