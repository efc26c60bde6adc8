// The on-screen menu of /data/configs/omenu.json turned into OSD settings.
#include <algorithm>
#include <memory>
#include <string>

#include <QString>
#include <QStringList>
#include <QVector>

#include "core/logMsg.h"
#include "core/omenu.h"
#include "core/vlxrampara.h"
#include "scaler/c331_manage.h"

namespace {

// Hexadecimal 0xRRGGBB with an optional "0x", read up to the first non-hex character;
// returned as 0xBBGGRR.
int menuColour(const std::string& text) {
    size_t i = 0;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) i = 2;
    uint32_t v = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else break;
        v = (v << 4) | uint32_t(d);
    }
    v &= 0xFFFFFF;
    return int(((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF));
}

// A number of the menu file kept within from..to, with a log line when it was not.
void keepWithin(int* value, int from, int to, const char* name) {
    const int kept = std::clamp(*value, from, std::max(from, to));
    if (kept == *value) return;
    writeLogMsg(LOG_WARNING, std::string("menu file: ") + name + " " + std::to_string(*value) +
                                 " lies outside the canvas, kept as " + std::to_string(kept));
    *value = kept;
}

}  // namespace

void c331_manage::set_OSD_para(OMENU_PARA* menu) {
    if (!menu || menu->osd_count == 0) return;
    load_char();
    // Every origin and size of the file inside the canvas, and the window on the LED screen: the
    // drawing engine writes at the origin's address with no bound of its own, so an origin off
    // the canvas would overwrite the fonts or whatever lies past the picture.
    const int canvasW = PS_BG_HACT, canvasH = PS_BG_VACT;
    int ledW = canvasW, ledH = canvasH;
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (ram) {
        unsigned char led[4];
        ram->snapshot(vlxram::kLedWidth, sizeof led, led);  // the pass reads the menu outside its hold
        ledW = VlxRamPara::getU16(led, 0), ledH = VlxRamPara::getU16(led, 2);
    }
    keepWithin(&menu->x, 0, canvasW, "pos.x");
    keepWithin(&menu->w, 0, std::min(ledW, canvasW - menu->x), "pos.w");
    keepWithin(&menu->y, 0, std::min(ledH, canvasH), "pos.y");
    keepWithin(&menu->h, 0, canvasH - menu->y, "pos.h");
    keepWithin(&menu->startx, 0, PS_BG_HACT - 1, "fontpara.startx");
    keepWithin(&menu->starty, 0, PS_BG_VACT - 1, "fontpara.starty");
    keepWithin(&menu->wordspace, 0, PS_BG_HACT, "fontpara.wordspace");
    keepWithin(&menu->verticalspace, 0, PS_BG_VACT, "fontpara.verticalspace");
    vlxApi_OsdSet(5, menu->x);
    vlxApi_OsdSet(6, menu->w);
    vlxApi_OsdSet(7, menu->y);
    vlxApi_OsdSet(8, menu->h);
    vlxApi_OsdSet(3, menu->type == 0 ? 1 : 0);
    if (menu->fontw == 32 && menu->fonth == 32) {
        vlxApi_OsdSet(1, 0), vlxApi_OsdSet(2, 0), vlxApi_OsdSet(14, 0);
    } else if (menu->fontw == 64 && menu->fonth == 64) {
        vlxApi_OsdSet(1, 0), vlxApi_OsdSet(2, 0), vlxApi_OsdSet(14, 1);
    } else if (menu->fontw == 128 && menu->fonth == 128) {
        vlxApi_OsdSet(1, 1), vlxApi_OsdSet(2, 1), vlxApi_OsdSet(14, 1);
    } else {
        vlxApi_OsdSet(14, 0);
    }
    vlxApi_OsdSet(21, menu->startx);
    vlxApi_OsdSet(22, menu->starty);

    const QStringList parts = QString::fromUtf8(menu->text.c_str()).split('\n');
    auto lines = std::make_unique<wchar_t[][128]>(64);
    int lengths[64] = {};
    int count = 0;
    for (const QString& part : parts) {
        if (count == 64) break;
        QVector<uint> cps = part.toUcs4();
        // A line ended by "\r\n" (a PC's text) keeps no "\r".
        if (!cps.isEmpty() && cps.back() == '\r') cps.pop_back();
        const int n = std::min(int(cps.size()), 127);
        for (int c = 0; c < n; ++c) lines[count][c] = wchar_t(cps[c]);
        lines[count][n] = 0;
        lengths[count++] = n;
    }
    vlxApi_OsdSetUnicode(count, lengths, lines.get());
    vlxApi_OsdSet(17, menuColour(menu->font_color));
    vlxApi_OsdSet(13, menu->speed * 10);
    if (menu->back_enable != "off") {
        vlxApi_OsdSet(16, menuColour(menu->back_color));
        vlxApi_OsdSet(18, 0);
    } else {
        vlxApi_OsdSet(18, 1);
    }
    static const int kScroll[5] = {0, 3, 4, 1, 2};
    if (menu->effect >= 0 && menu->effect <= 4) vlxApi_OsdSet(4, kScroll[menu->effect]);
    vlxApi_OsdSet(0, menu->status == "on" ? 1 : 0);
    vlxApi_OsdSet(33, menu->layer == "buttom" ? 1 : 0);
    vlxApi_OsdSet(34, menu->wordspace);
    vlxApi_OsdSet(35, menu->verticalspace);
}
