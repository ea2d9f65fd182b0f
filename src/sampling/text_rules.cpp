#include "text_rules.h"

#include <cctype>
#include <charconv>
#include <limits>

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

std::string_view nextLine(std::string_view& text)
{
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    return line;
}

std::optional<std::int32_t> parseInt32(std::string_view field)
{
    return parseInteger<std::int32_t>(field, true);
}

std::optional<std::int64_t> parseInt64(std::string_view field)
{
    return parseInteger<std::int64_t>(field, true);
}

std::optional<double> parseDouble(std::string_view field)
{
    // What the C locale's strtod takes, as the whole field: a sign, then a decimal or
    // 0x-prefixed hexadecimal figure, "inf", "infinity" or "nan"; a figure out of range
    // becomes infinity or zero. from_chars does the rest without any locale.
    std::string_view rest = field;
    const bool negative = !rest.empty() && rest.front() == '-';
    if (!rest.empty() && (rest.front() == '+' || negative))
        rest.remove_prefix(1);
    auto format = std::chars_format::general;
    if (rest.size() > 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
        format = std::chars_format::hex;
        rest.remove_prefix(2);
    }
    if (rest.empty() || rest.front() == '+' || rest.front() == '-')
        return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value, format);
    if (end != rest.data() + rest.size() || ec == std::errc::invalid_argument)
        return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
        const std::size_t exponent =
            rest.find_first_of(format == std::chars_format::hex ? "pP" : "eE");
        const bool tiny = exponent != std::string_view::npos && rest.substr(exponent + 1, 1) == "-";
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    }
    return negative ? -value : value;
}

} // namespace corvel
