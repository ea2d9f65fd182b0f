#include "color_scheme.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <string_view>

namespace corvel {
namespace {

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// GSettings' keyfile keeps strings in GVariant text: 'prefer-dark' or "prefer-dark".
std::string unquoted(std::string_view text)
{
    text = trimmed(text);
    if (text.size() >= 2 && (text.front() == '\'' || text.front() == '"') &&
        text.back() == text.front())
        text = text.substr(1, text.size() - 2);
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

// A theme named for its dark variant: "-dark" or ":dark" as a word of the name.
std::optional<ColorScheme> themeName(std::string_view name)
{
    const std::string lower = unquoted(name);
    if (lower.empty())
        return std::nullopt;
    for (std::size_t at = lower.find("dark"); at != std::string::npos;
         at = lower.find("dark", at + 1)) {
        const bool starts = at == 0 || !std::isalnum(static_cast<unsigned char>(lower[at - 1]));
        const bool ends =
            at + 4 == lower.size() || !std::isalpha(static_cast<unsigned char>(lower[at + 4]));
        if (starts && ends)
            return ColorScheme::dark;
    }
    return std::nullopt;
}

// "r,g,b" (KDE writes the window's background so): dark below half the brightness.
std::optional<ColorScheme> background(std::string_view written)
{
    std::array<int, 3> rgb{};
    std::string compact(written);
    std::erase_if(compact, [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
    std::string_view text = compact;
    for (std::size_t i = 0; i < rgb.size(); ++i) {
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), rgb[i]);
        if (error != std::errc() || rgb[i] < 0 || rgb[i] > 255)
            return std::nullopt;
        text.remove_prefix(static_cast<std::size_t>(end - text.data()));
        if (i + 1 < rgb.size()) {
            if (text.empty() || text.front() != ',')
                return std::nullopt;
            text.remove_prefix(1);
        }
    }
    if (!text.empty() && text.front() != ',') // an alpha may follow
        return std::nullopt;
    // Perceived brightness (ITU-R BT.601 weights), 0 to 255.
    const int luma = (299 * rgb[0] + 587 * rgb[1] + 114 * rgb[2]) / 1000;
    return luma < 128 ? ColorScheme::dark : ColorScheme::light;
}

} // namespace

ColorScheme decideColorScheme(const AppearanceSettings& settings)
{
    if (settings.portal == 1u)
        return ColorScheme::dark;
    if (settings.portal == 2u)
        return ColorScheme::light;
    const std::string gnome = unquoted(settings.gnomeColorScheme);
    if (gnome == "prefer-dark")
        return ColorScheme::dark;
    if (gnome == "prefer-light")
        return ColorScheme::light;
    const std::string preferDark = unquoted(settings.gtkPreferDark);
    if (preferDark == "1" || preferDark == "true")
        return ColorScheme::dark;
    if (themeName(settings.gtkTheme) || themeName(settings.gtkIniTheme))
        return ColorScheme::dark;
    if (const auto window = background(settings.kdeWindowBackground))
        return *window;
    // Scheme names run their words together: "BreezeDark".
    return unquoted(settings.kdeColorScheme).find("dark") != std::string::npos ? ColorScheme::dark
                                                                               : ColorScheme::light;
}

} // namespace corvel
