// The subcommands of cv-qrn-cli and the dispatcher that runs them.
//
// A subcommand is a function of its own arguments (the words after its name)
// and the two output streams; it returns the process exit status. Adding one
// is a function in its own cmd_*.cpp file and one line in the table in
// cli.cpp.
#pragma once

#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

#include "text/result.h"

namespace cvqrn {
struct SaveResult;
}

namespace cvqrn::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // a file was refused or could not be written
inline constexpr int kExitUsage = 2;    // the command line was wrong

inline constexpr const char* kProgram = "cv-qrn-cli";

using Args = std::span<const std::string>;
using CommandFn = int (*)(Args args, std::ostream& out, std::ostream& err);

// One option of a subcommand, for its help and for telling an unknown option
// from a known one.
struct OptionHelp {
    const char* name;     // "--segments"
    const char* value;    // what follows it ("N", "X", "FILE"); empty for a switch
    const char* meaning;  // with its unit
    std::string (*defaultText)() = nullptr;  // the default as text; null for none
};

struct Command {
    const char* name;
    const char* arguments;  // as shown in the usage text, e.g. "IN OUT [OPTIONS]"
    const char* summary;    // one line for the usage text
    CommandFn run;
    std::span<const OptionHelp> options = {};
};

// Each subcommand's arguments, as the usage texts show them, and its options.
inline constexpr const char* kRoundtripArguments = "IN OUT [--in-place]";
inline constexpr const char* kInfoArguments = "IN [--json]";
inline constexpr const char* kHeartlineArguments = "IN OUT [OPTIONS]";
inline constexpr const char* kProfileArguments = "IN [OPTIONS]";
extern const std::span<const OptionHelp> kRoundtripOptions;
extern const std::span<const OptionHelp> kInfoOptions;
extern const std::span<const OptionHelp> kHeartlineOptions;
extern const std::span<const OptionHelp> kProfileOptions;

// `roundtrip IN OUT [--in-place]`: loads IN as the window's Load does and
// saves it to OUT as its Save does (".cvtrack" appended when OUT lacks it).
// --in-place allows a plain, non-atomic overwrite of OUT when its folder does
// not allow a new file.
int RunRoundtrip(Args args, std::ostream& out, std::ostream& err);

// `info IN [--json]`: what a track file holds (version, chunk counts, terrain,
// file size, track length and end analysis).
int RunInfo(Args args, std::ostream& out, std::ostream& err);

// `heartline IN OUT [options]`: loads IN, rebuilds it along the heartline
// with the window's parameters (options, same defaults) and saves OUT
// (--in-place as for roundtrip); --smooth runs the smooth rebuild.
int RunHeartline(Args args, std::ostream& out, std::ostream& err);

// `profile IN [options]`: the ride profile of IN (speed and felt forces along
// the heart path) as a summary or JSON, optionally every sample as CSV.
int RunProfile(Args args, std::ostream& out, std::ostream& err);

// The one place where the tool puts a result that is not Ok into words, on
// `err`: "cv-qrn-cli: cannot VERB PATH: MESSAGE" (naming --in-place where that
// would write the file), or for a run in which the train stopped the window's
// message with where and why on the next line. Returns kExitFailure.
int ReportFailure(const char* verb, const std::string& path, const Result& result,
                  std::ostream& err);

// Reports the save of OUT (`requested` on the command line) on `err`: a
// refusal as ReportFailure does, or the note of a save that worked. Returns
// kExitOk or kExitFailure.
int ReportSave(const SaveResult& saved, const std::string& requested, std::ostream& err);

// cv-qrn-cli's subcommands, in the order its usage text lists them.
extern const std::span<const Command> kCommands;

// Runs the command line `args` (without the program name) against `commands`:
// --help, --version, or a subcommand by name. Returns the exit status.
int RunCli(Args args, std::span<const Command> commands, const std::string& version,
           std::ostream& out, std::ostream& err);

// Writes the usage text for `commands`; every line is shorter than 80 columns.
void PrintUsage(std::span<const Command> commands, std::ostream& out);

// Writes one subcommand's help: its usage, what it does and its options in
// aligned columns with their units and defaults, each line under 80 columns.
void PrintCommandHelp(const Command& command, std::ostream& out);

// An option on a subcommand's command line: --name VALUE or --name=VALUE
// (VALUE may start with a minus sign).
struct CommandOption {
    std::string text;  // the word as typed
    std::string name;
    std::string value;
};

// A word that stands alone on a subcommand's command line and sets `*set`.
struct CommandFlag {
    const char* name;  // e.g. "--json"
    bool* set;
};

// Reads a subcommand's words: one of `flags` sets its bool, a word that does
// not start with "-" (or "-" alone) is a file, a word naming one of `known`
// an option handed to `option`, which answers Ok or InvalidSettings with what
// is wrong. Returns the first refusal (an unknown option, an option without
// its value), or Ok when every word was understood.
Result ReadCommandWords(Args args, std::span<const OptionHelp> known,
                        std::initializer_list<CommandFlag> flags, std::vector<std::string>& files,
                        const std::function<Result(const CommandOption&)>& option);

// The refusal of a command line: InvalidSettings with `message`.
Result BadCommandLine(std::string message);

// Reports a usage error of subcommand `name` ("cv-qrn-cli: NAME: <message>")
// with its usage line, and returns kExitUsage.
int UsageError(const std::string& message, const char* name, const char* arguments,
               std::ostream& err);

}  // namespace cvqrn::cli
