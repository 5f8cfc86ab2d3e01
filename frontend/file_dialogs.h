// The open and save dialogs: the request the window makes, how it is turned
// into the chooser's form, and what the caller gets back.
//
// The toolkit's file chooser sits behind `FileChooser`, so the contract below
// (filter form, flags, the results of an accepted and a cancelled dialog) does
// not depend on the toolkit and can be checked without a display.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cvqrn::ui {

// Dialog flag bits, with the values the track tool has always used.
inline constexpr uint32_t kFlagReadOnly = 0x1;
inline constexpr uint32_t kFlagOverwritePrompt = 0x2;
inline constexpr uint32_t kFlagHideReadOnly = 0x4;
inline constexpr uint32_t kFlagEnableHook = 0x20;
inline constexpr uint32_t kFlagEnableTemplate = 0x40;
inline constexpr uint32_t kFlagFileMustExist = 0x1000;

// The arguments of one dialog call. Members marked "in/out" receive the answer.
struct FileDialogRequest {
    std::string FileName;          // in/out: pre-filled name (may be a full path); chosen full path
    std::string FileTitle;         // in/out: chosen file's name without its directory
    bool FileMustExist = false;    // open only: only an existing file can be chosen
    bool ReadOnly = false;         // open only, in/out: the read-only box, set when left ticked
    bool HideReadOnly = false;     // open only: no read-only box
    bool OverwritePrompt = false;  // save only: ask before an existing file is chosen
    std::string Filter;            // in/out: "description|pattern|..." (":" also separates);
                                   //         rewritten into the NUL-separated form
    int32_t FilterIndex = 1;       // in/out: 1-based pair selected; -1 (open) / 0 (save) on cancel
    std::string InitDir;           // directory to start in; empty = the chooser's choice
    std::string DlgTitle;          // the dialog's title
    std::string DefaultExt;        // extension without the dot, added to a typed name without one
    uint32_t Flags = 0;            // in/out: further flags; the dialog's flags; 0 on cancel
};

enum class DialogKind { Open, Save };

// What the chooser is asked to show.
struct ChooserRequest {
    DialogKind kind = DialogKind::Open;
    std::string filter;       // description NUL pattern NUL ... NUL NUL
    int32_t filterIndex = 1;  // 1-based
    std::string fileName;
    std::string fileTitle;
    std::string initDir;
    std::string title;
    std::string defaultExt;
    uint32_t flags = 0;
};

// What the chooser answers when the user chose a file.
struct ChooserAnswer {
    std::string fileName;   // full path
    std::string fileTitle;  // name without directory
    uint32_t flags = 0;
    int32_t filterIndex = 1;
};

// The toolkit's file chooser, shown modally over the window.
class FileChooser {
  public:
    virtual ~FileChooser() = default;
    // Shows the dialog; nothing when the user cancelled or the dialog failed.
    virtual std::optional<ChooserAnswer> Choose(const ChooserRequest& request) = 0;
};

// The filter in the chooser's form: every "|" becomes a NUL, then every ":"
// becomes a NUL, and two NULs are appended.
std::string RewriteFilter(std::string_view filter);

// The (description, pattern) pairs of a rewritten filter, up to the first
// empty description. A description without its pattern is dropped.
std::vector<std::pair<std::string, std::string>> FilterPairs(std::string_view rewritten);

// The flags an open dialog is shown with: 0x1000 for FileMustExist, 0x4 for
// HideReadOnly, 0x1 for ReadOnly, plus `Flags` without the hook and template bits.
uint32_t OpenDialogFlags(const FileDialogRequest& request);

// The flags a save dialog is shown with: 0x2 for OverwritePrompt, always 0x4,
// plus `Flags` without the hook and template bits.
uint32_t SaveDialogFlags(const FileDialogRequest& request);

// Shows the open dialog for `request` (whose Filter is rewritten in place) and
// writes the answer back. Returns true when a file was chosen; on cancel or
// failure FileName and FileTitle are emptied, FilterIndex is -1 and Flags 0.
bool ShowOpenDialog(FileDialogRequest& request, FileChooser& chooser);

// The same for the save dialog; on cancel FilterIndex is 0.
bool ShowSaveDialog(FileDialogRequest& request, FileChooser& chooser);

}  // namespace cvqrn::ui
