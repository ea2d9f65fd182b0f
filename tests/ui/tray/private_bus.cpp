#include "private_bus.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvel::test {
namespace {

constexpr const char* config = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=@DIR@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

std::string readLine(int fd, int timeoutMs)
{
    std::string line;
    while (line.empty() || line.back() != '\n') {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return {};
        char c;
        if (read(fd, &c, 1) != 1)
            return {};
        line += c;
    }
    line.pop_back();
    return line;
}

} // namespace

PrivateBus::PrivateBus()
{
    char templ[] = "/tmp/corvel-bus-XXXXXX";
    if (!mkdtemp(templ)) {
        error_ = "mkdtemp failed";
        return;
    }
    dir_ = templ;
    std::string text = config;
    text.replace(text.find("@DIR@"), 5, dir_);
    const std::string configPath = dir_ + "/bus.conf";
    std::ofstream(configPath) << text;

    int out[2];
    if (pipe(out) != 0) {
        error_ = "pipe failed";
        return;
    }
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // The daemon must not outlive a test that crashes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        const std::string configArg = "--config-file=" + configPath;
        execlp("dbus-daemon", "dbus-daemon", configArg.c_str(), "--print-address", "--nofork",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    if (pid_ < 0) {
        error_ = "fork failed";
        close(out[0]);
        return;
    }
    address_ = readLine(out[0], 10'000);
    close(out[0]);
    if (address_.empty())
        error_ = "dbus-daemon did not start (is it installed?)";
}

PrivateBus::~PrivateBus()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

} // namespace corvel::test
