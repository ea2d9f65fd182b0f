#include "desktop_entry.h"

#include "text_rules.h"

#include <limits>

namespace corvel {
namespace {

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::string unescapeValue(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        default: // keep unknown escapes (e.g. "\;" of lists) as written
            out += '\\';
            out += value[i];
        }
    }
    return decodeUtf8Lossy(out);
}

bool isTrue(std::string_view value)
{
    return value == "true" || value == "1";
}

// Splits off the next word of an Exec value; quoted words may hold spaces and escapes.
std::optional<std::string> nextWord(std::string_view& rest)
{
    rest = trim(rest);
    if (rest.empty())
        return std::nullopt;
    std::string word;
    if (rest.front() == '"') {
        std::size_t i = 1;
        for (; i < rest.size() && rest[i] != '"'; ++i) {
            if (rest[i] == '\\' && i + 1 < rest.size())
                ++i;
            word += rest[i];
        }
        if (i == rest.size())
            return std::nullopt; // unterminated quote
        rest.remove_prefix(i + 1);
        return word;
    }
    const std::size_t end = rest.find_first_of(" \t");
    word = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
    return word;
}

} // namespace

std::string_view baseName(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> localeKeys(std::string_view locale)
{
    if (locale.empty() || locale == "C" || locale == "POSIX" || locale.starts_with("C."))
        return {};
    std::string_view modifier;
    if (const std::size_t at = locale.find('@'); at != std::string_view::npos) {
        modifier = locale.substr(at);
        locale = locale.substr(0, at);
    }
    if (const std::size_t dot = locale.find('.'); dot != std::string_view::npos)
        locale = locale.substr(0, dot);
    std::string_view lang = locale;
    std::string_view country;
    if (const std::size_t underscore = locale.find('_'); underscore != std::string_view::npos) {
        lang = locale.substr(0, underscore);
        country = locale.substr(underscore);
    }
    if (lang.empty())
        return {};
    std::vector<std::string> keys;
    const std::string base(lang);
    if (!country.empty() && !modifier.empty())
        keys.push_back(base + std::string(country) + std::string(modifier));
    if (!country.empty())
        keys.push_back(base + std::string(country));
    if (!modifier.empty())
        keys.push_back(base + std::string(modifier));
    keys.push_back(base);
    return keys;
}

std::optional<ExecProgram> execProgram(std::string_view exec)
{
    std::string_view rest = exec;
    auto word = nextWord(rest);
    if (word && baseName(*word) == "env") {
        bool takesValue = false; // -u NAME, -C FOLDER
        do {
            const bool value = takesValue;
            word = nextWord(rest);
            takesValue = word && (*word == "-u" || *word == "-C");
            if (!word ||
                (!value && word->find('=') == std::string::npos && !word->starts_with("-")))
                break;
        } while (true);
    }
    if (!word || word->empty() || word->back() == '/')
        return std::nullopt;
    ExecProgram found{std::move(*word), true};
    while (const auto argument = nextWord(rest))
        if (argument->size() != 2 || argument->front() != '%')
            found.plain = false;
    return found;
}

std::optional<DesktopEntry> parseDesktopEntry(std::string_view text, std::string_view locale)
{
    const std::vector<std::string> keys = localeKeys(locale);
    DesktopEntry entry;
    bool inGroup = false;
    bool found = false;
    std::size_t nameRank = std::numeric_limits<std::size_t>::max(); // lower is better

    while (!text.empty()) {
        const std::string_view line = trim(nextLine(text));
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            if (found && inGroup)
                break; // the group ended; later groups are actions
            inGroup = line == "[Desktop Entry]";
            found = found || inGroup;
            continue;
        }
        if (!inGroup)
            continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        std::string_view key = trim(line.substr(0, equals));
        const std::string_view value = trim(line.substr(equals + 1));
        std::string_view keyLocale;
        if (const std::size_t open = key.find('['); open != std::string_view::npos) {
            if (key.back() != ']')
                continue;
            keyLocale = key.substr(open + 1, key.size() - open - 2);
            key = key.substr(0, open);
        }
        if (key == "Name") {
            if (value.empty())
                continue;
            std::size_t rank = keys.size(); // the unlocalized Name
            if (!keyLocale.empty()) {
                rank = keys.size() + 1; // a locale we do not use
                for (std::size_t i = 0; i < keys.size(); ++i)
                    if (keys[i] == keyLocale)
                        rank = i;
            }
            if (rank < nameRank && rank <= keys.size()) {
                entry.name = unescapeValue(value);
                nameRank = rank;
            }
            continue;
        }
        if (!keyLocale.empty())
            continue;
        if (key == "Icon" && !entry.icon && !value.empty())
            entry.icon = unescapeValue(value);
        else if (key == "Type")
            entry.application = value == "Application";
        else if (key == "NoDisplay")
            entry.noDisplay = isTrue(value);
        else if (key == "Hidden")
            entry.hidden = isTrue(value);
        else if (key == "StartupWMClass" && !entry.startupWMClass)
            entry.startupWMClass = unescapeValue(value);
        else if (key == "Terminal")
            entry.terminal = isTrue(value);
        else if (key == "Exec" && !entry.program) {
            if (auto exec = execProgram(unescapeValue(value))) {
                entry.program = std::move(exec->program);
                entry.plainExec = exec->plain;
            }
        } else if (key == "TryExec" && !entry.tryExec && !value.empty())
            entry.tryExec = unescapeValue(value);
    }
    if (!found)
        return std::nullopt;
    return entry;
}

} // namespace corvel
