#include <ostream>

#include "cli/commands.h"

namespace cvqrn::cli {

void PrintUsage(std::span<const Command> commands, std::ostream& out) {
    out << "usage: " << kProgram << " COMMAND [ARGUMENTS]\n"
        << "       " << kProgram << " --help | --version\n\n"
        << "Commands:\n";
    for (const Command& c : commands) {
        std::string line = std::string(c.name) + " " + c.arguments;
        if (line.size() < 24) line.resize(24, ' ');
        out << "  " << line << "  " << c.summary << "\n";
    }
    out << "\nExit status: 0 success, 1 a file was refused or could not be written, "
           "2 usage error.\n";
}

int UsageError(const std::string& message, const char* name, const char* arguments,
               std::ostream& err) {
    err << kProgram << ": " << message << "\n"
        << "usage: " << kProgram << " " << name << " " << arguments << "\n";
    return kExitUsage;
}

int CannotLoad(const std::string& path, const std::string& reason, std::ostream& err) {
    err << kProgram << ": cannot load " << path << ": " << reason << "\n";
    return kExitFailure;
}

int CannotSave(const std::string& path, const std::string& reason, std::ostream& err) {
    err << kProgram << ": cannot save " << path << ": " << reason << "\n";
    return kExitFailure;
}

int RunCli(Args args, std::span<const Command> commands, const std::string& version,
           std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << kProgram << ": no command given\n";
        PrintUsage(commands, err);
        return kExitUsage;
    }
    const std::string& first = args[0];
    if (first == "--help" || first == "-h" || first == "help") {
        PrintUsage(commands, out);
        return kExitOk;
    }
    if (first == "--version") {
        out << kProgram << " " << version << "\n";
        return kExitOk;
    }
    for (const Command& c : commands) {
        if (first != c.name) continue;
        if (args.size() == 2 && (args[1] == "--help" || args[1] == "-h")) {
            out << "usage: " << kProgram << " " << c.name << " " << c.arguments << "\n"
                << c.summary << "\n";
            return kExitOk;
        }
        return c.run(args.subspan(1), out, err);
    }
    err << kProgram << ": unknown command '" << first << "'\n";
    PrintUsage(commands, err);
    return kExitUsage;
}

}  // namespace cvqrn::cli
