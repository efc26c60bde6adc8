#pragma once
// The configuration the C331 manager reads at bring-up, dropped again at the end of a test.
#include "core/config_engine.h"

namespace inputtest {

struct ConfigEngineGuard {
    void start() { ConfigEngine::pInstance(); }
    ~ConfigEngineGuard() { ConfigEngine::resetInstanceForTest(); }
};

}  // namespace inputtest
