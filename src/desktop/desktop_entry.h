#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvel {

// The few keys of a freedesktop desktop entry that say how an application is shown.
struct DesktopEntry
{
    std::optional<std::string> name; // Name for the locale given to the parser, else plain Name
    std::optional<std::string> icon; // theme name or absolute path
    std::optional<std::string> startupWMClass;
    std::optional<std::string> program; // what Exec runs, as written: absolute path or name
    std::optional<std::string> tryExec; // TryExec's program, as written
    bool plainExec = false;             // Exec runs the program alone (field codes aside)
    bool application = true;            // Type=Application (or no Type)
    bool terminal = false;              // runs in a terminal: the terminal is the application
    bool noDisplay = false;
    bool hidden = false; // the entry is deleted: treat as absent
};

// Parses the [Desktop Entry] group of a desktop file. Nothing when the group is missing.
// Lines that do not parse are skipped; values are unescaped (\s \n \t \r \\) and ill-formed
// UTF-8 becomes U+FFFD. `locale` is the messages locale (lang_COUNTRY.ENCODING@MODIFIER).
std::optional<DesktopEntry> parseDesktopEntry(std::string_view text, std::string_view locale);

// The locale keys tried for a localized value, best first: lang_COUNTRY@MODIFIER,
// lang_COUNTRY, lang@MODIFIER, lang. Empty for "C", "POSIX" and an empty locale.
std::vector<std::string> localeKeys(std::string_view locale);

// The program an Exec value runs, as written: the first word (quotes honoured), past an
// "env VAR=value" prefix; `plain` when nothing but field codes (%U…) follows it. Nothing for
// an empty or unterminated value or a path that ends in "/".
struct ExecProgram
{
    std::string program;
    bool plain = false;
};
std::optional<ExecProgram> execProgram(std::string_view exec);

// The file name of a path.
std::string_view baseName(std::string_view path);

} // namespace corvel
