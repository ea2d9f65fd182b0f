#include "corvel_app.h"
#include "display_probe.h"
#include "once.h"
#include "options.h"

#include <cstdio>
#include <cstdlib>
#include <span>

int main(int argc, char** argv)
{
    using corvel::Options;
    const Options options =
        corvel::parseOptions(std::span<const char* const>(argv + 1, argc > 0 ? argc - 1 : 0));
    switch (options.mode) {
    case Options::Mode::help:
        std::fwrite(corvel::helpText.data(), 1, corvel::helpText.size(), stdout);
        return 0;
    case Options::Mode::version:
        std::puts("corvel " CORVEL_VERSION);
        return 0;
    case Options::Mode::invalid:
        std::fprintf(stderr, "corvel: %s\n%.*s\n", options.error.c_str(),
                     static_cast<int>(corvel::usageLine.size()), corvel::usageLine.data());
        return 2;
    case Options::Mode::once:
        return corvel::printOnce(options.json, stdout);
    case Options::Mode::statusItem:
        break;
    }
    const corvel::DisplayProbe display = corvel::probeDisplay();
    if (!display.usable) {
        // Nor should the list's own look at the desktop's windows try them again.
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        const int status = corvel::printOnce(false, stdout);
        if (display.tried.empty()) {
            std::fputs("corvel: the status item needs a graphical session (neither DISPLAY nor "
                       "WAYLAND_DISPLAY is set); printed the list once instead\n",
                       stderr);
        } else {
            std::fprintf(stderr,
                         "corvel: the status item needs a graphical session and none answers "
                         "(%s); printed the list once instead\n",
                         display.tried.c_str());
        }
        return status;
    }
    corvel::chooseQtPlatform(display);
    return corvel::runStatusItem(argc, argv);
}
