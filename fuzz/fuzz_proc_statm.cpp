// parseStatmResident on arbitrary bytes: an accepted text has the resident count as its
// second number, and a text as the kernel writes it always parses.

#include "proc_parse.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto resident = corvel::parseStatmResident(input);
    if (resident) {
        if (*resident < 0)
            std::abort();
        // The second field, leading zeros aside, prints the value back.
        std::string_view rest = input.substr(input.find_first_not_of(' '));
        rest = rest.substr(rest.find(' '));
        rest = rest.substr(rest.find_first_not_of(' '));
        std::string_view second = rest.substr(0, rest.find_first_of(" \n"));
        while (second.size() > 1 && second.front() == '0')
            second.remove_prefix(1);
        if (second != std::to_string(*resident))
            std::abort();
        if (corvel::parseStatmResident(input) != resident)
            std::abort();
    }

    if (size >= 16) {
        std::uint64_t total = 0;
        std::int64_t pages = 0;
        std::memcpy(&total, data, 8);
        std::memcpy(&pages, data + 8, 8);
        if (pages < 0)
            pages = -(pages + 1);
        const std::string line = std::to_string(total) + " " + std::to_string(pages) +
                                 " 10 1 0 50 0\n";
        if (corvel::parseStatmResident(line) != pages)
            std::abort();
    }
    return 0;
}
