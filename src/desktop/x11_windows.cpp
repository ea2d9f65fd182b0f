#include "window_source.h"
#include "x11_clients.h"

#include <chrono>

namespace corvel {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto reconnectEvery = std::chrono::seconds(10);

class X11Windows final : public WindowSource
{
public:
    explicit X11Windows(std::string display) : display_(std::move(display)) {}

    std::vector<WindowInfo> windows() override
    {
        if (!clients_.isOpen() && !connect())
            return {};
        std::vector<WindowInfo> result;
        for (X11Clients::Client& client : clients_.read())
            result.push_back(std::move(client.info));
        if (clients_.broken())
            clients_.close(); // the server went away; try again later
        return result;
    }

private:
    bool connect()
    {
        const auto now = Clock::now();
        if (display_.empty() || (tried_ && now - lastTry_ < reconnectEvery))
            return false;
        tried_ = true;
        lastTry_ = now;
        return clients_.open(display_);
    }

    std::string display_;
    X11Clients clients_;
    bool tried_ = false;
    Clock::time_point lastTry_{};
};

} // namespace

std::unique_ptr<WindowSource> makeX11Windows(std::string display)
{
    return std::make_unique<X11Windows>(std::move(display));
}

} // namespace corvel
