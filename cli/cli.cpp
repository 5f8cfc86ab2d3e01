#include <algorithm>
#include <cstring>
#include <ostream>
#include <string_view>
#include <utility>

#include "cli/commands.h"
#include "heartline/generator.h"
#include "trackfile/track_file.h"

namespace cvqrn::cli {

namespace {

// `text` padded with blanks to `width` columns.
std::string Padded(std::string text, size_t width) {
    if (text.size() < width) text.resize(width, ' ');
    return text;
}

std::string OptionWords(const OptionHelp& option) {
    std::string words = option.name;
    if (*option.value != '\0') words += std::string(" ") + option.value;
    return words;
}

}  // namespace

void PrintUsage(std::span<const Command> commands, std::ostream& out) {
    out << "usage: " << kProgram << " COMMAND [ARGUMENTS]\n"
        << "       " << kProgram << " COMMAND --help\n"
        << "       " << kProgram << " --help | --version\n\n"
        << "Commands:\n";
    size_t width = 0;
    for (const Command& c : commands) {
        width = std::max(width, std::strlen(c.name) + 1 + std::strlen(c.arguments));
    }
    for (const Command& c : commands) {
        out << "  " << Padded(std::string(c.name) + " " + c.arguments, width) << "  " << c.summary
            << "\n";
    }
    out << "\nExit status:\n"
           "  0  success\n"
           "  1  a track file was refused or could not be written, or the run failed\n"
           "  2  usage error\n";
}

void PrintCommandHelp(const Command& command, std::ostream& out) {
    std::string summary = command.summary;
    if (!summary.empty() && summary[0] >= 'a' && summary[0] <= 'z') summary[0] -= 'a' - 'A';
    out << "usage: " << kProgram << " " << command.name << " " << command.arguments << "\n"
        << summary << ".\n";
    if (command.options.empty()) return;
    size_t width = 0;
    for (const OptionHelp& option : command.options) {
        width = std::max(width, OptionWords(option).size());
    }
    out << "\nOptions:\n";
    for (const OptionHelp& option : command.options) {
        out << "  " << Padded(OptionWords(option), width) << "  " << option.meaning;
        if (option.defaultText != nullptr) out << " (default " << option.defaultText() << ")";
        out << "\n";
    }
}

int UsageError(const std::string& message, const char* name, const char* arguments,
               std::ostream& err) {
    err << kProgram << ": " << name << ": " << message << "\n"
        << "usage: " << kProgram << " " << name << " " << arguments << "\n";
    if (std::string_view(arguments).find("[OPTIONS]") != std::string_view::npos) {
        err << "(" << kProgram << " " << name << " --help lists the options)\n";
    }
    return kExitUsage;
}

Result BadCommandLine(std::string message) {
    return Failure(Status::InvalidSettings, std::move(message));
}

Result ReadCommandWords(Args args, std::span<const OptionHelp> known,
                        std::initializer_list<CommandFlag> flags, std::vector<std::string>& files,
                        const std::function<Result(const CommandOption&)>& option) {
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
        if (equals != std::string::npos) read.name = word.substr(0, equals);
        const auto found = std::find_if(known.begin(), known.end(),
                                        [&read](const OptionHelp& o) { return read.name == o.name; });
        if (found == known.end()) return BadCommandLine("unknown option '" + read.name + "'");
        if (*found->value == '\0') return BadCommandLine(read.name + " takes no value");
        if (equals != std::string::npos) {
            read.value = word.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            read.value = args[++i];
        } else {
            return BadCommandLine(word + " needs a value");
        }
        if (Result understood = option(read); !understood) return understood;
    }
    return {};
}

int ReportFailure(const char* verb, const std::string& path, const Result& result,
                  std::ostream& err) {
    switch (result.status) {
        case Status::Valleyed:
        case Status::EqualSpeeds:
            err << kHeartlineFailureText << "\n" << result.message << "\n";
            break;
        case Status::InPlacePossible:
            err << kProgram << ": cannot " << verb << " " << path << ": " << result.message
                << " (--in-place writes it anyway)\n";
            break;
        default:
            err << kProgram << ": cannot " << verb << " " << path << ": " << result.message << "\n";
            break;
    }
    return kExitFailure;
}

int ReportSave(const SaveResult& saved, const std::string& requested, std::ostream& err) {
    const std::string& path = saved.path.empty() ? requested : saved.path;
    if (!saved) return ReportFailure("save", path, saved, err);
    if (!saved.note.empty()) err << kProgram << ": note: " << path << ": " << saved.note << "\n";
    return kExitOk;
}

namespace {

// The subcommands, in the order the usage text lists them.
const Command kCommandTable[] = {
    {"roundtrip", kRoundtripArguments, "load IN and save it as OUT (\".cvtrack\" added)",
     RunRoundtrip, kRoundtripOptions},
    {"info", kInfoArguments, "show what the track file IN holds", RunInfo, kInfoOptions},
    {"heartline", kHeartlineArguments, "rebuild IN along the heartline and save OUT",
     RunHeartline, kHeartlineOptions},
    {"profile", kProfileArguments, "speed and felt forces along IN's heart path", RunProfile,
     kProfileOptions},
};

}  // namespace

const std::span<const Command> kCommands = kCommandTable;

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
            PrintCommandHelp(c, out);
            return kExitOk;
        }
        return c.run(args.subspan(1), out, err);
    }
    err << kProgram << ": unknown command '" << first << "'\n";
    PrintUsage(commands, err);
    return kExitUsage;
}

}  // namespace cvqrn::cli
