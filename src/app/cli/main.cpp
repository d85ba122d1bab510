// strelvane-cli: the command-line front end over the same core as the desktop program,
// for automation and for the simulated lab.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli/cli_commands.h"
#include "app/cli/firmware_command.h"
#include "app/cli/inventory_command.h"
#include "app/cli/report_command.h"
#include "app/cli/schedule_command.h"
#include "app/cli/search_command.h"
#include "app/cli/terminal.h"
#include "app/cli/upgrade_command.h"
#include "base/trace.h"
#include "history/history_file.h"

namespace {

const std::vector<CliCommand>& Commands() {
    static const std::vector<CliCommand> commands = {
        {"firmware", "check, download, list, export or import the firmware store",
         RunFirmwareCommand},
        {"inventory", "list what firmware every device on the site runs", RunInventory},
        {"report", "print the handover report of the upgrade history", RunReport},
        {"schedule", "list, add or run scheduled upgrades", RunScheduleCommand},
        {"search", "find the devices on the local network", RunSearch},
        {"upgrade", "upgrade the firmware of devices on the local network", RunUpgrade},
    };
    return commands;
}

void PrintUsage(FILE* out) {
    std::fprintf(out,
                 "usage: strelvane-cli <command> [options]\n"
                 "       strelvane-cli <command> --help\n"
                 "       strelvane-cli --version\n\ncommands:\n");
    for (const CliCommand& c : Commands()) std::fprintf(out, "  %-10s %s\n", c.Name, c.Summary);
    std::fprintf(out,
                 "\nfiles:\n"
                 "  trace log        %s (rotated at %ld MiB, %d older files kept)\n"
                 "  upgrade history  %s\n",
                 DefaultTraceFile().c_str(), kTraceRotateBytes >> 20, kTraceKeptFiles,
                 DefaultHistoryFile().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    // A device that drops a connection must not end the program through SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2) {
        PrintUsage(stderr);
        return kExitBadArguments;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return kExitOk;
    }
    if (name == "--version") {
        std::printf("strelvane-cli %s\n", STRELVANE_VERSION);
        return kExitOk;
    }
    // Every command leaves its trace where --help says; nothing is written until a
    // command has something to trace.
    SetTraceFile(DefaultTraceFile());
    for (const CliCommand& c : Commands()) {
        if (name == c.Name) return c.Run(std::vector<std::string>(argv + 2, argv + argc));
    }
    PrintError("strelvane-cli: unknown command '" + name + "'");
    PrintUsage(stderr);
    return kExitBadArguments;
}
