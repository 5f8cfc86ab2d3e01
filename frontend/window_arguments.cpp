#include "frontend/window_arguments.h"

namespace cvqrn::ui {

namespace {

std::string Usage() {
    return std::string("usage: ") + kWindowProgram + " [FILE]\n" + "       " + kWindowProgram +
           " --help | --version\n\n" +
           "Opens the CV-QRN window; with FILE, loads that track file (.cvtrack) at start.\n";
}

WindowArguments UsageError(const std::string& message) {
    WindowArguments result;
    result.exitCode = 2;
    result.err = std::string(kWindowProgram) + ": " + message + "\n" + Usage();
    return result;
}

}  // namespace

WindowArguments ParseWindowArguments(const std::vector<std::string>& args,
                                     const std::string& version) {
    WindowArguments result;
    bool options = true;
    for (const std::string& arg : args) {
        if (options && arg == "--") {
            options = false;
            continue;
        }
        if (options && (arg == "--help" || arg == "-h")) {
            return {0, Usage(), "", ""};
        }
        if (options && arg == "--version") {
            return {0, std::string(kWindowProgram) + " " + version + "\n", "", ""};
        }
        if (options && arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option '" + arg + "'");
        }
        if (!result.file.empty()) return UsageError("only one track file can be opened");
        result.file = arg;
    }
    return result;
}

}  // namespace cvqrn::ui
