#include "options.h"

namespace corvel {

const std::string_view helpText =
    "usage: corvel [--once [--json]] [--help] [--version]\n"
    "\n"
    "Shows which applications use the processor and memory right now, as an item in the\n"
    "desktop's status area; a click on it opens the list.\n"
    "\n"
    "  --once     print the list once to standard output and exit\n"
    "  --json     with --once: print it as one JSON object\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n";

Options parseOptions(std::span<const char* const> args)
{
    Options options;
    bool once = false;
    for (const char* raw : args) {
        const std::string_view arg = raw ? raw : "";
        if (arg == "--once") {
            once = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--help" || arg == "-h") {
            options.mode = Options::Mode::help;
            return options;
        } else if (arg == "--version") {
            options.mode = Options::Mode::version;
            return options;
        } else {
            options.mode = Options::Mode::invalid;
            options.error = "unknown option '" + std::string(arg) + "'";
            return options;
        }
    }
    if (options.json && !once) {
        options.mode = Options::Mode::invalid;
        options.error = "--json goes with --once";
        return options;
    }
    options.mode = once ? Options::Mode::once : Options::Mode::statusItem;
    return options;
}

} // namespace corvel
