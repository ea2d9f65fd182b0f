#include "terminal_view.h"

#include "formatting.h"

#include <cstddef>
#include <nlohmann/json.hpp>

namespace corvel {
namespace {

constexpr std::size_t nameColumnWidth = 40;

// Columns are counted in code points, which is right for most names and never splits one.
std::size_t codePoints(const std::string& text)
{
    std::size_t count = 0;
    for (const char c : text)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

std::string padRight(std::string text, std::size_t width)
{
    const std::size_t length = codePoints(text);
    if (length < width)
        text.append(width - length, ' ');
    return text;
}

std::string padLeft(const std::string& text, std::size_t width)
{
    const std::size_t length = codePoints(text);
    return length < width ? std::string(width - length, ' ') + text : text;
}

} // namespace

std::string renderText(const std::vector<AppUsage>& apps, double totalCPU)
{
    std::string out =
        padRight("App", nameColumnWidth) + padLeft("CPU", 9) + padLeft("Memory", 10) + "\n";
    for (const AppUsage& app : apps) {
        std::string name = app.name;
        if (app.processCount >= 2)
            name += " (" + std::to_string(app.processCount) + ")";
        out += padRight(std::move(name), nameColumnWidth) + padLeft(formatShare(app.cpu), 9) +
               padLeft(formatMemory(app.memoryKB), 10) + "\n";
    }
    out += formatTotalCpu(totalCPU) + "\n";
    return out;
}

std::string renderJson(const std::vector<AppUsage>& apps, double totalCPU, double cores)
{
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const AppUsage& app : apps) {
        list.push_back({{"id", app.id},
                        {"name", app.name},
                        {"cpu", app.cpu},
                        {"memoryKB", app.memoryKB},
                        {"processCount", app.processCount}});
    }
    const nlohmann::ordered_json document = {
        {"totalCPU", totalCPU}, {"cores", cores}, {"apps", std::move(list)}};
    // Texts from outside may hold bytes that are not UTF-8; they are replaced, never fatal.
    return document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

} // namespace corvel
