#include "frontend/file_dialogs.h"

#include <algorithm>

namespace cvqrn::ui {

namespace {

constexpr uint32_t kClearedBits = kFlagEnableHook | kFlagEnableTemplate;

ChooserRequest MakeChooserRequest(DialogKind kind, const FileDialogRequest& request,
                                  uint32_t flags) {
    ChooserRequest out;
    out.kind = kind;
    out.filter = request.Filter;
    out.filterIndex = request.FilterIndex;
    out.fileName = request.FileName;
    out.fileTitle = request.FileTitle;
    out.initDir = request.InitDir;
    out.title = request.DlgTitle;
    out.defaultExt = request.DefaultExt;
    out.flags = flags;
    return out;
}

// Both dialogs: the filter is rewritten in place, the chooser is shown with
// the variant's flags, and the answer (or the cancel) is written back.
bool ShowDialog(DialogKind kind, FileDialogRequest& request, FileChooser& chooser) {
    const bool open = kind == DialogKind::Open;
    request.Filter = RewriteFilter(request.Filter);
    const uint32_t flags = open ? OpenDialogFlags(request) : SaveDialogFlags(request);
    const auto answer = chooser.Choose(MakeChooserRequest(kind, request, flags));
    if (!answer) {
        request.FileName.clear();
        request.FileTitle.clear();
        request.Flags = 0;
        request.FilterIndex = open ? -1 : 0;
        return false;
    }
    request.FileName = answer->fileName;
    request.FileTitle = answer->fileTitle;
    request.Flags = answer->flags;
    request.FilterIndex = answer->filterIndex;
    if (open && (answer->flags & kFlagReadOnly)) request.ReadOnly = true;
    return true;
}

}  // namespace

std::string RewriteFilter(std::string_view filter) {
    std::string out(filter);
    std::replace(out.begin(), out.end(), '|', '\0');
    std::replace(out.begin(), out.end(), ':', '\0');
    out.append(2, '\0');
    return out;
}

std::vector<std::pair<std::string, std::string>> FilterPairs(std::string_view rewritten) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < rewritten.size()) {
        const size_t end = std::min(rewritten.find('\0', start), rewritten.size());
        if (end == start) break;  // the empty string that ends the list
        parts.emplace_back(rewritten.substr(start, end - start));
        start = end + 1;
    }
    for (size_t i = 0; i + 1 < parts.size(); i += 2) pairs.emplace_back(parts[i], parts[i + 1]);
    return pairs;
}

uint32_t OpenDialogFlags(const FileDialogRequest& request) {
    uint32_t flags = request.Flags & ~kClearedBits;
    if (request.FileMustExist) flags |= kFlagFileMustExist;
    if (request.HideReadOnly) flags |= kFlagHideReadOnly;
    if (request.ReadOnly) flags |= kFlagReadOnly;
    return flags;
}

uint32_t SaveDialogFlags(const FileDialogRequest& request) {
    uint32_t flags = (request.Flags & ~kClearedBits) | kFlagHideReadOnly;
    if (request.OverwritePrompt) flags |= kFlagOverwritePrompt;
    return flags;
}

bool ShowOpenDialog(FileDialogRequest& request, FileChooser& chooser) {
    return ShowDialog(DialogKind::Open, request, chooser);
}

bool ShowSaveDialog(FileDialogRequest& request, FileChooser& chooser) {
    return ShowDialog(DialogKind::Save, request, chooser);
}

}  // namespace cvqrn::ui
