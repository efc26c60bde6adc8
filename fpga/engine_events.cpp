#include "fpga/engine_events.h"

EngineEvents& engineEvents() {
    static EngineEvents events;   // filled by start-up before the engine runs, read-only after
    return events;
}
