#include "scaler/c331_wiring.h"

void fpgaSelectsInactive() {}
