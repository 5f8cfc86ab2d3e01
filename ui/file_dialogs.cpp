#include "ui/file_dialogs.h"

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

void TakeAnswer(const ChooserAnswer& answer, FileDialogRequest& request) {
    request.FileName = answer.fileName;
    request.FileTitle = answer.fileTitle;
    request.Flags = answer.flags;
    request.FilterIndex = answer.filterIndex;
}

void TakeCancel(FileDialogRequest& request, int32_t cancelledIndex) {
    request.FileName.clear();
    request.FileTitle.clear();
    request.Flags = 0;
    request.FilterIndex = cancelledIndex;
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
    request.Filter = RewriteFilter(request.Filter);
    const auto answer =
        chooser.Choose(MakeChooserRequest(DialogKind::Open, request, OpenDialogFlags(request)));
    if (!answer) {
        TakeCancel(request, -1);
        return false;
    }
    TakeAnswer(*answer, request);
    if (answer->flags & kFlagReadOnly) request.ReadOnly = true;
    return true;
}

bool ShowSaveDialog(FileDialogRequest& request, FileChooser& chooser) {
    request.Filter = RewriteFilter(request.Filter);
    const auto answer =
        chooser.Choose(MakeChooserRequest(DialogKind::Save, request, SaveDialogFlags(request)));
    if (!answer) {
        TakeCancel(request, 0);
        return false;
    }
    TakeAnswer(*answer, request);
    return true;
}

}  // namespace cvqrn::ui
