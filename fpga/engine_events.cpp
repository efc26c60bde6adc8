#include "fpga/engine_events.h"

EngineEvents& engineEvents() {
    static EngineEvents events;
    return events;
}
