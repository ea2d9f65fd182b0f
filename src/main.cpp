#include "corvel_app.h"
#include "once.h"
#include "options.h"

#include <cstdio>
#include <cstdlib>
#include <span>

namespace {

bool hasGraphicalSession()
{
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

} // namespace

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
    if (!hasGraphicalSession()) {
        const int status = corvel::printOnce(false, stdout);
        std::fputs("corvel: the status item needs a graphical session (neither DISPLAY nor "
                   "WAYLAND_DISPLAY is set); printed the list once instead\n",
                   stderr);
        return status;
    }
    return corvel::runStatusItem(argc, argv);
}
