#include "window_closing.h"
#include "window_source.h"

namespace corvel {
namespace {

class NoWindows final : public WindowSource
{
public:
    std::vector<WindowInfo> windows() override { return {}; }
};

} // namespace

// This build has no X support: no windows, silently.
std::unique_ptr<WindowSource> makeX11Windows(std::string)
{
    return std::make_unique<NoWindows>();
}

int closeX11Windows(const std::string&, std::span<const std::int32_t>)
{
    return 0;
}

} // namespace corvel
