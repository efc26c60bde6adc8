#pragma once
// Tests: VlxRamPara::shadowDiffers calls this once its look at the shadow is taken, holding no
// lock, so a test can put a writer between a save's look and the shadow's update (set while
// nothing else runs; empty in the program).
#include <functional>

namespace vlxram {
extern std::function<void()> shadow_looked_hook;
}
