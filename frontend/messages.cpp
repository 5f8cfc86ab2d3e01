#include "frontend/messages.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "heartline/generator.h"
#include "heartline/valley.h"
#include "text/format.h"
#include "text/words.h"

namespace cvqrn::ui {

namespace {

bool StartsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// The whole number that follows `marker` in `text`, if any.
std::optional<int64_t> NumberAfter(std::string_view text, std::string_view marker) {
    const size_t at = text.find(marker);
    if (at == std::string_view::npos) return std::nullopt;
    size_t i = at + marker.size();
    int64_t value = 0;
    bool digits = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && value < INT64_MAX / 10 - 9; ++i) {
        value = value * 10 + (text[i] - '0');
        digits = true;
    }
    if (!digits) return std::nullopt;
    return value;
}

// A part of a track file, as the loader names it, in a designer's words.
struct FilePart {
    std::string_view tag;  // how the loader's reason begins to name it
    const char* words;
    bool plural;
};

constexpr std::array<FilePart, 15> kFileParts{{
    {"file header", "the file's header", false},
    {"TRCK", "the track's header", false},
    {"INFO", "the track's description", false},
    {"BEZR", "the track's vertices", true},
    {"SEGM", "the track's segments", true},
    {"SUPP", "the supports", true},
    {"FUND", "the supports' footers", true},
    {"RASC", "the supports", true},
    {"FREN", "the supports", true},
    {"TUBE", "the supports", true},
    {"CATW", "the catwalks", true},
    {"SCEN", "the scenery", false},
    {"SCOB", "the scenery", false},
    {"TERA", "the terrain", false},
    {"ENVC", "the environment", false},
}};

constexpr FilePart kUnknownPart{"", "a part the simulator added", false};

const FilePart& PartNamed(std::string_view what) {
    for (const FilePart& part : kFileParts) {
        if (StartsWith(what, part.tag)) return part;
    }
    return kUnknownPart;
}

constexpr const char* kResave =
    " Open the track in the simulator and save it again, or use a copy that opens.";

// A reason from inside the file: "truncated in the WHAT at byte N" or
// "damaged WHAT (at byte N): PROBLEM".
std::optional<std::string> PlainContentReason(std::string_view reason) {
    constexpr std::string_view kTruncated = "truncated in the ";
    constexpr std::string_view kDamaged = "damaged ";
    std::string_view what;
    if (StartsWith(reason, kTruncated)) {
        what = reason.substr(kTruncated.size());
        return "The file ends early, inside " + std::string(PartNamed(what).words) + "." + kResave;
    }
    if (!StartsWith(reason, kDamaged)) return std::nullopt;
    what = reason.substr(kDamaged.size());
    const FilePart& part = PartNamed(what);
    const std::optional<int64_t> needed = NumberAfter(reason, " need at least ");
    const std::optional<int64_t> left = NumberAfter(reason, " bytes but only ");
    if (needed && left) {
        return std::string("The file ends early: ") + part.words + (part.plural ? " need " : " needs ") +
               FormatCount(*needed) + " bytes, only " + FormatCount(*left) + " are left." + kResave;
    }
    return std::string("The file is damaged in ") + part.words + "." + kResave;
}

}  // namespace

std::string PlainLoadReason(const std::string& reason) {
    if (std::optional<std::string> content = PlainContentReason(reason)) return *content;
    if (reason == "the name does not end in .cvtrack") {
        return "CV-QRN opens only files whose names end in \".cvtrack\". If this is a track file, "
               "rename it so that its name ends in \".cvtrack\" and open it again.";
    }
    if (reason == "it is a folder") {
        return "It is a folder, not a track file. Choose a file in it.";
    }
    if (reason == "it is not a regular file") {
        return "It is not an ordinary file (a device or a pipe, for example). Choose a track file.";
    }
    if (reason == "the file is too short to be a track file") {
        return "It is too short to be a track file: it may be empty, or not copied completely.";
    }
    if (StartsWith(reason, "not a track file")) {
        return "It is not a track file of the coaster simulator: it does not begin as one.";
    }
    if (StartsWith(reason, "the file ends at byte ")) {
        return "The file ends early, after " +
               FormatCount(NumberAfter(reason, "the file ends at byte ").value_or(0)) +
               " bytes, before the rest of the track." + kResave;
    }
    if (StartsWith(reason, "the file is too large to load") ||
        reason == "the file is too large to be a track file") {
        return "It claims more content than a track file of its size can hold, so it is "
               "damaged or not a track file.";
    }
    if (StartsWith(reason, "inconsistent track")) {
        return std::string("The file is damaged: its parts do not agree with each other.") + kResave;
    }
    if (reason == "not enough memory to load the file") {
        return "There is not enough memory to load it. Close other programs and try again.";
    }
    if (reason == SystemReason(ENOENT)) return "The file does not exist (any more).";
    if (reason == SystemReason(EACCES) || reason == SystemReason(EPERM)) {
        return "You are not allowed to read it. Ask its owner, or copy it to a folder of yours.";
    }
    return "It cannot be read as a track file.";
}

std::string LoadRefusedText(const std::string& path, const std::string& plainReason) {
    const std::string name = std::filesystem::path(path).filename().string();
    return std::string(kLoadErrorText) + "\n\nCV-QRN cannot open \"" + name + "\". " +
           plainReason;
}

std::string LoadErrorText(const std::string& path, const std::string& reason) {
    return LoadRefusedText(path, PlainLoadReason(reason));
}

std::string SaveErrorText(const std::string& path, const std::string& reason) {
    const std::filesystem::path file(path);
    const std::string name = file.filename().string();
    const std::string folder = file.parent_path().string();
    const auto says = [&reason](int err) { return Contains(reason, SystemReason(err)); };
    std::string sentence;
    if (says(ENOSPC) || says(EDQUOT)) {
        sentence = "The disk is full, so \"" + name +
                   "\" could not be written. Free some space, or choose another folder.";
    } else if (says(EFBIG)) {
        sentence = "The track is larger than a file in this place may be. Choose another folder.";
    } else if (says(EROFS)) {
        sentence = "The folder " + folder + " is on a disk that cannot be written to. Choose "
                   "another folder.";
    } else if (StartsWith(reason, "cannot open its folder") && says(ENOENT)) {
        sentence = "The folder " + folder + " does not exist. Choose another folder.";
    } else if (StartsWith(reason, "cannot create a file in its folder") ||
               StartsWith(reason, "cannot open its folder")) {
        sentence = "CV-QRN cannot create a file in " + folder + ". Choose another folder.";
    } else if (reason == "it is a folder" || reason == "it names a folder, not a file" ||
               StartsWith(reason, "the name ends in '/'")) {
        sentence = "\"" + path + "\" is a folder. Choose a file name for the track.";
    } else if (reason == "it is not a regular file") {
        sentence = "\"" + path + "\" is not an ordinary file. Choose another name.";
    } else if (reason == "not enough memory to save the track") {
        sentence = "There is not enough memory to save the track. Close other programs and save "
                   "again.";
    } else {
        sentence = "CV-QRN could not save the track as \"" + path +
                   "\". Choose another folder or name and save again.";
    }
    return "Error Saving Track File!\n\n" + sentence;
}

std::string ValleyBoxText(std::optional<double> advisedStartSpeed) {
    std::string text = kHeartlineFailureText;
    if (advisedStartSpeed) text += "\n\n" + ValleyAdviceText(*advisedStartSpeed) + ".";
    return text;
}

}  // namespace cvqrn::ui
