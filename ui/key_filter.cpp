#include "ui/key_filter.h"

namespace cvqrn::ui {

int FilterNumericKey(std::string_view text, int caret, int key, bool allowDecimal,
                     bool allowMinus) {
    if (key == kKeyBackspace) return key;
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

}  // namespace cvqrn::ui
