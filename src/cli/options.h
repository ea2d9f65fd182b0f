#pragma once

#include <span>
#include <string>
#include <string_view>

namespace corvel {

struct Options
{
    enum class Mode { statusItem, once, help, version, invalid };
    Mode mode = Mode::statusItem;
    bool json = false;
    std::string error; // for Mode::invalid: what was wrong, one line
};

Options parseOptions(std::span<const char* const> args); // args without the program name

inline constexpr std::string_view usageLine =
    "usage: corvel [--once [--json]] [--help] [--version]";
extern const std::string_view helpText;

} // namespace corvel
