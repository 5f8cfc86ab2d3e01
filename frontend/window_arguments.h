// The command line of the window program: `cv-qrn [FILE]`, `--help`, `--version`.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cvqrn::ui {

inline constexpr const char* kWindowProgram = "cv-qrn";

// What the command line asks for.
struct WindowArguments {
    int exitCode = -1;  // >= 0: print `out` / `err` and end with this status; -1: open the window
    std::string out;    // for standard output (help, version)
    std::string err;    // for standard error (usage errors)
    std::string file;   // the track file to load at start; empty for none
};

// Reads the arguments after the program name. "--help" or "-h" prints the
// usage and "--version" the version (exit 0); an unknown option or a second
// file is a usage error (exit 2). "--" ends the options, so a file may begin
// with "-". Options of the toolkit must be taken out before.
//   args     the arguments, without the program name
//   version  the project's version number, e.g. "1.2.0"
WindowArguments ParseWindowArguments(const std::vector<std::string>& args,
                                     const std::string& version);

}  // namespace cvqrn::ui
