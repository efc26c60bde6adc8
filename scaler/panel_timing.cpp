#include "scaler/panel_timing.h"

#include <algorithm>

namespace panel {

const char* spliceName(int splice) {
    static const char* const names[kSpliceModes] = {"SPLICE MODE: NONE", "SPLICE MODE: HV",   "SPLICE MODE: V",
                                                    "SPLICE MODE: H",    "SPLICE MODE: CP12", "SPLICE MODE: CP21"};
    return names[((splice % kSpliceModes) + kSpliceModes) % kSpliceModes];
}

namespace {

std::vector<TimingPair> buildTable() {
    std::vector<TimingPair> t;
    t.reserve(kTimingRun1 + kTimingRun2);
    // Run 1: per htt the tallest rasters the frame budget allows, tallest first, so the
    // first pair that covers a need leaves the most vertical room.
    constexpr int kFirstHtt = 660, kLastHtt = 4388, kStep = 4;
    constexpr int kHtts = (kLastHtt - kFirstHtt) / kStep + 1;                   // 933
    constexpr int kPerHtt = kTimingRun1 / kHtts;                                // 4
    constexpr int kExtra = kTimingRun1 - kPerHtt * kHtts;                       // 155 get one more
    for (int i = 0; i < kHtts; ++i) {
        const int htt = kFirstHtt + kStep * i;
        const int top = int(kFrameBudget / htt);
        const int n = kPerHtt + (i < kExtra ? 1 : 0);
        for (int j = 0; j < n; ++j) t.push_back({htt, top - j});
    }
    // Run 2: the wide rasters, htt rising while vtt falls.
    constexpr int kH0 = 2257, kH1 = 8280, kV0 = 2257, kV1 = 1196;
    for (int i = 0; i < kTimingRun2; ++i) {
        const int htt = kH0 + int((int64_t(kH1 - kH0) * i + (kTimingRun2 - 1) / 2) / (kTimingRun2 - 1));
        int vtt = kV0 - int((int64_t(kV0 - kV1) * i + (kTimingRun2 - 1) / 2) / (kTimingRun2 - 1));
        vtt = std::min<int>(vtt, int(kFrameBudget / htt));
        t.push_back({htt, vtt});
    }
    return t;
}

bool splitVertically(int splice) { return splice == kHV || splice == kV; }

}  // namespace

const std::vector<TimingPair>& timingTable() {
    // Built on first use, by the scaler manager's thread, and never destroyed: a library's
    // exit() runs the static destructors while that thread still reads it.
    static const std::vector<TimingPair>& table = *new std::vector<TimingPair>(buildTable());
    return table;
}

PanelRecord panelSizes(int ledW, int ledH, int out1w, int out1h, int splice) {
    PanelRecord p;
    p.splice = ((splice % kSpliceModes) + kSpliceModes) % kSpliceModes;
    p.ledW = uint16_t(ledW);
    p.ledH = uint16_t(ledH);
    // The split point comes from a writable RAM word: never past the screen edge.
    const uint16_t o1w = uint16_t(std::clamp(out1w, 0, int(p.ledW)));
    const uint16_t o1h = uint16_t(std::clamp(out1h, 0, int(p.ledH)));
    switch (p.splice) {
    case kHV:
    case kV:
        p.out1w = p.ledW;
        p.out1h = o1h;
        p.out2h = uint16_t(p.ledH - o1h);
        p.out2w = 0;
        break;
    case kH:
        p.out1h = p.ledH;
        p.out1w = o1w;
        p.out2w = uint16_t(p.ledW - o1w);
        p.out2h = 0;
        break;
    case kNone:
    case kCP12:
        p.out1w = p.out2w = p.ledW;
        p.out1h = p.ledH;
        p.out2h = 0;
        break;
    default:  // CP21: no output sizes
        break;
    }
    return p;
}

int panelInitOchDiff(PanelRecord& p, int* htt, int* vtt, int hblank, int vblank) {
    const bool vert = splitVertically(p.splice);
    int64_t W = vert ? int64_t(p.out1w) + p.out2w : std::max<int64_t>(p.out1w, p.out2w);
    int64_t H = vert ? std::max<int64_t>(p.out1h, p.out2h) : int64_t(p.out1h) + p.out2h;
    p.oneOch = W * H <= kPixelBudget;
    int64_t needH = 0, needV = 0;
    bool kindV = false;
    auto twoOch = [&] {
        if (vert) {
            H /= 2;
            if (p.arrang == kArrang2x2_8K) W /= 2;
            kindV = true;
        } else {
            W /= 2;
            kindV = false;
        }
        needH = W + hblank;
        needV = H + vblank;
    };
    if (p.oneOch) {
        needH = W + hblank;
        needV = H + vblank;
        kindV = vert;
    } else {
        twoOch();
    }
    const auto& table = timingTable();
    for (;;) {
        if (needH * needV > kFrameBudget) {
            if (kindV) needH = needV > 0 ? kFrameBudget / needV : needH;
            else needV = needH > 0 ? kFrameBudget / needH : needV;
        }
        auto it = std::find_if(table.begin(), table.end(),
                               [&](const TimingPair& t) { return t.htt >= needH && t.vtt >= needV; });
        if (it != table.end()) {
            *htt = it->htt;
            *vtt = it->vtt;
            break;
        }
        if (p.oneOch) {
            p.oneOch = 0;
            twoOch();
            continue;
        }
        *htt = int(needH);
        *vtt = int(needV);
        break;
    }
    p.ochW = *htt - hblank;
    p.ochH = *vtt - vblank;
    return 1;
}

void panelInitOch3(PanelRecord& p) {
    p.hfp = p.vfp = 16;
    p.hsync = 12;
    p.vsync = 3;
    const bool vert = splitVertically(p.splice);
    const int64_t pixels = vert ? std::max<int64_t>(p.out1h, p.out2h) * (int64_t(p.out1w) + p.out2w)
                                : (int64_t(p.out1h) + p.out2h) * std::max<int64_t>(p.out1w, p.out2w);
    p.oneOch = pixels <= kPixelBudget;
    const bool small = p.oneOch;
    struct Row {
        int arrang, cols, rows, hfp, vfp, vsync, hblank, vblank;
    };
    Row r;
    switch (p.splice) {
    case kHV: r = small ? Row{kArrang1x2, 1, 2, 4, 4, 3, 20, 12} : Row{kArrang2x2_8K, 2, 2, 32, 32, 12, 76, 76}; break;
    case kV: r = small ? Row{kArrang1x2, 1, 2, 4, 3, 3, 20, 38} : Row{kArrang2x2_8K, 2, 2, 32, 32, 12, 76, 76}; break;
    case kH: r = small ? Row{kArrang2x1, 2, 1, 4, 3, 3, 48, 12} : Row{kArrang4x1, 4, 1, 36, 3, 3, 80, 12}; break;
    case kCP21: r = small ? Row{kArrang2x1, 2, 1, 4, 4, 3, 20, 12} : Row{kArrang2x1, 2, 1, 32, 32, 12, 76, 76}; break;
    default:  // NONE, CP12
        r = small ? Row{kArrang2x1, 2, 1, 4, 4, 3, 20, 12} : Row{kArrang4x1, 4, 1, 32, 32, 12, 76, 76};
        break;
    }
    p.arrang = r.arrang;
    p.cols = uint8_t(r.cols);
    p.rows = uint8_t(r.rows);
    p.hfp = r.hfp;
    p.vfp = r.vfp;
    p.vsync = r.vsync;
    p.xOffset = p.yOffset = 0;
    int htt = 0, vtt = 0;
    panelInitOchDiff(p, &htt, &vtt, r.hblank, r.vblank);
    p.htt = htt;
    p.vtt = vtt;
    if (p.splice == kH) {
        p.ochW = (p.ochW + 3) / 4 * 4;
        p.ochH = vtt - r.vblank;
        p.xOffset = uint16_t(p.ochW * p.cols / 2 - p.out1w);
    } else if (vert) {
        const int half = std::max(1, p.rows / 2);
        const int tallest = std::max(p.out1h, p.out2h);
        p.ochH = (tallest + half - 1) / half;
        p.yOffset = uint16_t(half * p.ochH - p.out1h);
    } else {
        p.ochH = (p.ledH + p.rows - 1) / p.rows;
    }
}

PanelRamWords panelRamWords(const PanelRecord& p) {
    PanelRamWords w{};
    w.xOffset = p.xOffset;
    w.yOffset = p.yOffset;
    switch (p.splice) {
    case kNone:
    case kCP12: w.gridA = p.oneOch ? 1 : 2; w.gridB = 1; break;
    case kH: w.gridA = p.oneOch ? 2 : 4; w.gridB = 1; break;
    default: w.gridA = p.oneOch ? 1 : 2; w.gridB = 2; break;  // HV, V, CP21
    }
    w.ochW = uint16_t(p.ochW);
    w.ochH = uint16_t(p.ochH);
    w.lane = uint16_t(p.lane);
    return w;
}

}  // namespace panel
