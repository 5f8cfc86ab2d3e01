#include "frontend/key_filter.h"

namespace cvqrn::ui {

int FilterNumericKey(std::string_view text, int caret, int key, bool allowDecimal,
                     bool allowMinus) {
    if (key == kKeyBackspace) return key;
    if (key == kKeyComma && allowDecimal) key = kKeyPoint;
    if (key == kKeyPoint && allowDecimal) {
        return text.find('.') == std::string_view::npos ? key : 0;
    }
    if (key == kKeyMinus && allowMinus) {
        if (text.empty()) return key;
        if (text.front() != '-' && caret == 0) return key;
        return 0;
    }
    return (key >= '0' && key <= '9') ? key : 0;
}

bool TypingCouldProduce(std::string_view text, bool allowDecimal, bool allowMinus) {
    bool point = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') continue;
        if (c == '.' && allowDecimal && !point) {
            point = true;
            continue;
        }
        if (c == '-' && allowMinus && i == 0) continue;
        return false;
    }
    return true;
}

std::string DecimalCommasAsPoints(std::string_view text, bool allowDecimal) {
    std::string taken(text);
    if (allowDecimal) {
        for (char& c : taken) {
            if (c == ',') c = '.';
        }
    }
    return taken;
}

}  // namespace cvqrn::ui
