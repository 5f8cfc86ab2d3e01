#include <algorithm>
#include <ostream>

#include "cli/commands.h"
#include "trackfile/track_file.h"

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

std::string ReadCommandWords(Args args, std::initializer_list<CommandFlag> flags,
                             std::vector<std::string>& files,
                             const std::function<std::string(const CommandOption&)>& option) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        const auto flag = std::find_if(flags.begin(), flags.end(),
                                       [&word](const CommandFlag& f) { return word == f.name; });
        if (flag != flags.end()) {
            *flag->set = true;
            continue;
        }
        if (word.size() < 2 || word[0] != '-') {
            files.push_back(word);
            continue;
        }
        CommandOption read{word, word, ""};
        const size_t equals = word.find('=');
        if (equals != std::string::npos) {
            read.name = word.substr(0, equals);
            read.value = word.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            read.value = args[++i];
        } else {
            return word + " needs a value";
        }
        if (std::string error = option(read); !error.empty()) return error;
    }
    return {};
}

int CannotLoad(const std::string& path, const std::string& reason, std::ostream& err) {
    err << kProgram << ": cannot load " << path << ": " << reason << "\n";
    return kExitFailure;
}

int CannotSave(const std::string& path, const std::string& reason, std::ostream& err) {
    err << kProgram << ": cannot save " << path << ": " << reason << "\n";
    return kExitFailure;
}

int ReportSave(const SaveResult& saved, const std::string& requested, std::ostream& err) {
    const std::string& path = saved.path.empty() ? requested : saved.path;
    if (!saved) {
        return CannotSave(
            path, saved.reason + (saved.inPlacePossible ? " (--in-place writes it anyway)" : ""),
            err);
    }
    if (!saved.note.empty()) err << kProgram << ": note: " << path << ": " << saved.note << "\n";
    return kExitOk;
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
