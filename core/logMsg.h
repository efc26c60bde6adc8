#pragma once
#include <string>

enum _LogType { LOG_CRITICAL = 0, LOG_ERROR = 1, LOG_WARNING = 2, LOG_INFO = 3, LOG_DEBUG = 4 };

// Appends one time-stamped entry to /data/kavelkv/log/zufEnglneLog.
void writeLogMsg(_LogType level, std::string text);
