#include "text_rules.h"

#include <cctype>
#include <charconv>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale.h>

namespace corvel {
namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD"; // U+FFFD

// Length of the well-formed sequence starting at text[i], or 0 when ill-formed; for an
// ill-formed start, `subpart` gets the length of its maximal subpart (at least 1).
std::size_t wellFormedLength(std::string_view text, std::size_t i, std::size_t& subpart)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    subpart = 1;
    if (lead < 0x80)
        return 1;
    std::size_t need = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        if (lead == 0xE0)
            lo = 0xA0;
        else if (lead == 0xED)
            hi = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        if (lead == 0xF0)
            lo = 0x90;
        else if (lead == 0xF4)
            hi = 0x8F; // nothing above U+10FFFF
    } else {
        return 0; // C0, C1, F5..FF and lone continuation bytes
    }
    // The second byte has a narrowed range; the others are plain continuation bytes.
    for (std::size_t k = 1; k <= need; ++k) {
        if (i + k >= text.size())
            return 0;
        const unsigned char b = byte(i + k);
        const unsigned char low = k == 1 ? lo : 0x80;
        const unsigned char high = k == 1 ? hi : 0xBF;
        if (b < low || b > high)
            return 0;
        subpart = k + 1;
    }
    subpart = 1;
    return need + 1;
}

locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t{});
    return locale;
}

bool isCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

template <typename Int>
std::optional<Int> parseInteger(std::string_view field)
{
    const char* first = field.data();
    const char* last = field.data() + field.size();
    if (first != last && *first == '+')
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

} // namespace

bool isValidUtf8(std::string_view bytes)
{
    std::size_t i = 0;
    std::size_t subpart = 0;
    while (i < bytes.size()) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = wellFormedLength(bytes, i, subpart);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::string decodeUtf8Lossy(std::string_view bytes)
{
    if (isValidUtf8(bytes))
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + 16);
    std::size_t i = 0;
    std::size_t subpart = 0;
    while (i < bytes.size()) {
        const std::size_t length = wellFormedLength(bytes, i, subpart);
        if (length == 0) {
            out += replacement;
            i += subpart;
        } else {
            out.append(bytes.data() + i, length);
            i += length;
        }
    }
    return out;
}

Fields splitPSFields(std::string_view line)
{
    Fields fields;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < line.size() && fields.count < 4; ++i) {
        if (line[i] != ' ')
            continue;
        if (i == begin) {
            begin = i + 1; // no empty fields
            continue;
        }
        fields.field[fields.count++] = line.substr(begin, i - begin);
        begin = i + 1;
    }
    if (begin < line.size())
        fields.field[fields.count++] = line.substr(begin);
    return fields;
}

std::optional<std::int32_t> parseInt32(std::string_view field)
{
    return parseInteger<std::int32_t>(field);
}

std::optional<std::int64_t> parseInt64(std::string_view field)
{
    return parseInteger<std::int64_t>(field);
}

std::optional<double> parseDouble(std::string_view field)
{
    if (field.empty() || isCSpace(field.front()))
        return std::nullopt;
    // Fast path for the plain decimal figures the tool prints; same result as strtod.
    bool plain = true;
    for (const char c : field)
        plain = plain && ((c >= '0' && c <= '9') || c == '.');
    if (plain) {
        double value = 0;
        const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value,
                                               std::chars_format::fixed);
        if (ec == std::errc() && end == field.data() + field.size())
            return value;
        if (ec != std::errc::result_out_of_range)
            return std::nullopt;
    }
    // Everything else (signs, exponents, hex, inf, nan, overflow) as the C locale's strtod.
    // A NUL byte inside the field stops strtod early and so fails the whole-field test.
    char small[64];
    std::string large;
    char* text = small;
    if (field.size() < sizeof small) {
        std::memcpy(small, field.data(), field.size());
        small[field.size()] = '\0';
    } else {
        large.assign(field);
        text = large.data();
    }
    char* end = nullptr;
    const double value = strtod_l(text, &end, cLocale());
    if (end != text + field.size())
        return std::nullopt;
    return value;
}

} // namespace corvel
