#pragma once

// Locale-independent rules for reading text from outside: UTF-8 repair, the process-status
// field split, and strict number conversions. None of these consult the C library's locale.

#include <array>
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

// Base 10, optional single sign, ASCII digits only, whole field, range-checked.
std::optional<std::int32_t> parseInt32(std::string_view field);
std::optional<std::int64_t> parseInt64(std::string_view field);

// The whole field as one number in the C locale's form (full stop as decimal point; hex,
// infinity and not-a-number accepted as strtod does); leading white space fails.
std::optional<double> parseDouble(std::string_view field);

} // namespace corvel
