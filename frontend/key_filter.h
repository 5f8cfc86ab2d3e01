// The filter that keeps the parameter fields numeric while the user types.
#pragma once

#include <string>
#include <string_view>

namespace cvqrn::ui {

// Character codes the filter knows.
inline constexpr int kKeyBackspace = 8;
inline constexpr int kKeyMinus = 45;
inline constexpr int kKeyPoint = 46;
inline constexpr int kKeyComma = 44;

// Decides whether one typed character may go into a parameter field.
// Returns the character to insert: `key` itself when it is accepted, "." for
// a "," in a field that takes a decimal point (a German keyboard, and its
// keypad, type "," for the decimal key), and 0 when it is swallowed.
//   text          the field's whole text before the key, selected part included
//   caret         where the character would go in: the start of the selection
//                 when text is selected, the cursor position otherwise
//   key           the typed character's code (Unicode)
//   allowDecimal  one "." (or "," for it) may be typed (only while `text` has
//                 none yet, so a selected "." still blocks a new one)
//   allowMinus    a "-" may be typed at the very front
// Backspace is always accepted, digits are accepted, every other character
// (control characters included) is swallowed.
int FilterNumericKey(std::string_view text, int caret, int key, bool allowDecimal, bool allowMinus);

// Whether typing through FilterNumericKey could have produced `text`: digits,
// at most one "." when `allowDecimal`, and a "-" only at the very front when
// `allowMinus`. Pasted and dropped text must pass this too, after
// DecimalCommasAsPoints.
bool TypingCouldProduce(std::string_view text, bool allowDecimal, bool allowMinus);

// Pasted or dropped text as a field takes it: in a field that takes a decimal
// point every "," becomes ".", as a typed "," does; elsewhere the text is
// returned unchanged (so its "," is refused).
std::string DecimalCommasAsPoints(std::string_view text, bool allowDecimal);

}  // namespace cvqrn::ui
