#pragma once

#include <string>
#include <sys/types.h>

namespace corvel::test {

// A dbus-daemon of our own, with a configuration written by the test (no service activation,
// nothing from the machine's session), ended when this object dies or, failing that, when
// the test process does.
class PrivateBus
{
  public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool running() const { return pid_ > 0 && !address_.empty(); }
    const std::string& address() const { return address_; }
    const std::string& error() const { return error_; }

  private:
    pid_t pid_ = -1;
    std::string address_;
    std::string error_;
    std::string dir_;
};

} // namespace corvel::test
