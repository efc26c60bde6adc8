#pragma once
// Chip configuration data of the bring-up: register writes that do not depend on the
// system block, the default parameter set and the layout presets.
#include <vector>

#include "scaler/c331_manage.h"

namespace c331data {

struct RegWrite {
    unsigned desc;
    unsigned value;
    unsigned och;  // bank offset = 16 * och
};

extern const std::vector<RegWrite> kClockBlock;
extern const std::vector<RegWrite> kArrangMode1;
extern const std::vector<RegWrite> kArrangMode2;
extern const std::vector<RegWrite> kArrangOther;
extern const std::vector<RegWrite> kOchDefaults;  // per OCH, bank offset added by the caller
extern const std::vector<RegWrite> kTx1Group;
extern const std::vector<RegWrite> kTx2Group;

constexpr int kParameterWords = 160;
extern const int parameters_txt[kParameterWords];
extern const C331LayoutPreset kLayoutPresets[10];

}  // namespace c331data
