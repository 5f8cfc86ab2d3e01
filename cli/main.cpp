// cv-qrn-cli: the command-line companion of CV-QRN, for batch use and for
// checking track files. It reads no settings and never prompts.
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "cli/commands.h"

#ifndef CVQRN_VERSION
#define CVQRN_VERSION "unknown"
#endif

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        return cvqrn::cli::RunCli(args, cvqrn::cli::kCommands, CVQRN_VERSION, std::cout, std::cerr);
    } catch (const std::bad_alloc&) {
        // Load and save report their own; this catches what is left (a heartline run, output).
        std::cerr << cvqrn::cli::kProgram << ": out of memory\n";
        return cvqrn::cli::kExitFailure;
    }
}
