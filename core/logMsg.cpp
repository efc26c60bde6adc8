// placeholder: replaced by the log implementation
#include "core/logMsg.h"
void writeLogMsg(_LogType, std::string) {}
