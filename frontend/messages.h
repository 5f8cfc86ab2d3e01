// The texts of the message boxes that report a refused load, a failed save
// and a valley, in a designer's words. The loader and the saver give their
// reasons in technical terms (chunk tags, byte offsets, the system's error
// text); these say what happened and what to do, and the technical reason
// goes behind Show Details.
#pragma once

#include <optional>
#include <string>

namespace cvqrn::ui {

// The load box's designed first line and its title.
inline constexpr const char* kLoadErrorText = "Error Loading Track File!";
inline constexpr const char* kLoadErrorTitle = "Load Error";

// The load box's text: the designed kLoadErrorText, then the file's name and
// the reason in plain words.
//   path    the file as chosen (its name is shown, not its folder)
//   reason  the loader's reason (the load Result's message)
std::string LoadErrorText(const std::string& path, const std::string& reason);

// The same for a reason already in plain words (the page's own refusals: a
// file too large, one the browser could not read).
std::string LoadRefusedText(const std::string& path, const std::string& plainReason);

// The reason of a refused load in plain words, one or two sentences; a reason
// it does not know becomes a general one.
std::string PlainLoadReason(const std::string& reason);

// The save box's text: "Error Saving Track File!", then a whole sentence that
// says what went wrong and what to do.
//   path    the file the save tried to write
//   reason  the saver's reason (the SaveResult's message)
std::string SaveErrorText(const std::string& path, const std::string& reason);

// The valley box's text: the designed failure text and, when a start speed
// clears every hill, the advice under it.
std::string ValleyBoxText(std::optional<double> advisedStartSpeed);

}  // namespace cvqrn::ui
