#include "platform/shell.h"

#include <cctype>

namespace plat {

bool isShellSafeWord(const std::string& word) {
    if (word.empty()) return false;
    for (unsigned char c : word) {
        if (std::isalnum(c)) continue;
        switch (c) {
        case '.': case '_': case '-': case ':': case '/': case ',': case '+': case '=':
            continue;
        default:
            return false;
        }
    }
    return word[0] != '-';  // never let a word turn into an option
}

bool isDottedIPv4(const std::string& text) {
    int parts = 0;
    size_t i = 0;
    while (i < text.size()) {
        size_t start = i;
        unsigned value = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
            if (i - start >= 3 || value > 255) return false;
            ++i;
        }
        if (i == start) return false;
        ++parts;
        if (i == text.size()) break;
        if (text[i] != '.' || parts == 4) return false;
        ++i;
        if (i == text.size()) return false;
    }
    return parts == 4;
}

std::string shellQuote(const std::string& word) {
    std::string out = "'";
    for (char c : word) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    out += "'";
    return out;
}

}  // namespace plat
