#pragma once

// Locale-independent rules for reading text from outside: UTF-8 repair, the process-status
// field split, and strict number conversions. None of these consult the C library's locale.

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvel {

// Replaces each maximal ill-formed subsequence by U+FFFD (the Unicode standard's recommended
// practice). Valid input comes back unchanged.
std::string decodeUtf8Lossy(std::string_view bytes);
bool isValidUtf8(std::string_view bytes);

// Up to five fields split at single spaces: at most four splits, empty fields dropped, and
// the fifth field running untouched to the end of the line.
struct Fields
{
    std::array<std::string_view, 5> field{};
    std::size_t count = 0;
};
Fields splitPSFields(std::string_view line);

// Takes the next line off the front of `text` and returns it without its line feed; the last
// line may lack one. The one line splitter for outside text.
std::string_view nextLine(std::string_view& text);

// The one integer parser for outside text: base 10, ASCII digits only, the whole field, in
// the type's range, a minus sign only for signed types. A plus sign only with `plusSign`: the
// process-status tool's fields may carry one (its C library may print it); the kernel's never.
template <typename Int>
std::optional<Int> parseInteger(std::string_view field, bool plusSign = false)
{
    const char* first = field.data();
    const char* last = field.data() + field.size();
    if (plusSign && first != last && *first == '+')
        ++first;
    // from_chars takes a minus sign itself; after a plus sign only digits may follow.
    if (first == last || (*first == '-' && first != field.data()))
        return std::nullopt;
    Int value{};
    const auto [end, ec] = std::from_chars(first, last, value, 10);
    if (ec != std::errc() || end != last)
        return std::nullopt;
    return value;
}

// The process-status tool's integers: parseInteger with an optional plus sign.
std::optional<std::int32_t> parseInt32(std::string_view field);
std::optional<std::int64_t> parseInt64(std::string_view field);

// The whole field as one number in the C locale's form (full stop as decimal point; hex,
// infinity and not-a-number accepted as strtod does); leading white space fails.
std::optional<double> parseDouble(std::string_view field);

} // namespace corvel
