#pragma once

#include <functional>
#include <string>

namespace corvel {

// The user's service manager, asked to stop or signal one of its units. Answers come later,
// from the event loop: `done(true)` once the manager took the request.
class UnitControl
{
public:
    using Done = std::function<void(bool accepted)>;

    virtual ~UnitControl() = default;
    virtual void stopUnit(const std::string& unit, Done done) = 0;
    // Sends `signal` to every process of `unit`, also those started after it was looked up.
    virtual void killUnit(const std::string& unit, int signal, Done done) = 0;
};

} // namespace corvel
