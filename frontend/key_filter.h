// The filter that keeps the parameter fields numeric while the user types.
#pragma once

#include <string_view>

namespace cvqrn::ui {

// Character codes the filter knows.
inline constexpr int kKeyBackspace = 8;
inline constexpr int kKeyMinus = 45;
inline constexpr int kKeyPoint = 46;

// Decides whether one typed character may go into a parameter field.
// Returns `key` when the character is accepted and 0 when it is swallowed.
//   text          the field's whole text before the key, selected part included
//   caret         where the character would go in: the start of the selection
//                 when text is selected, the cursor position otherwise
//   key           the typed character's code (Unicode)
//   allowDecimal  one "." may be typed (only while `text` has none yet, so a
//                 selected "." still blocks a new one)
//   allowMinus    a "-" may be typed at the very front
// Backspace is always accepted, digits are accepted, every other character
// (control characters included) is swallowed.
int FilterNumericKey(std::string_view text, int caret, int key, bool allowDecimal, bool allowMinus);

// Whether typing through FilterNumericKey could have produced `text`: digits,
// at most one "." when `allowDecimal`, and a "-" only at the very front when
// `allowMinus`. Pasted and dropped text must pass this too.
bool TypingCouldProduce(std::string_view text, bool allowDecimal, bool allowMinus);

}  // namespace cvqrn::ui
