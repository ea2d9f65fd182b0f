#pragma once

// A Monitor over canned sources: each publication lists applications with their figures, the
// snapshot and running applications are made up to match, and one cycle is run to publish it.

#include "monitor.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace corvel::test {

struct FakeApp
{
    FakeApp(std::string id_, std::string name_, double cpu_, std::int64_t memoryKB_,
            std::int64_t processes_ = 1, std::string icon_ = {})
        : id(std::move(id_)), name(std::move(name_)), cpu(cpu_), memoryKB(memoryKB_),
          processes(processes_), icon(std::move(icon_))
    {}

    std::string id;
    std::string name;
    double cpu = 0;
    std::int64_t memoryKB = 0;
    std::int64_t processes = 1;
    std::string icon; // icon-theme name or absolute path; empty for none
};

class FakeMonitor
{
public:
    // Publishes `apps` at once, so the Monitor starts with them.
    explicit FakeMonitor(const std::vector<FakeApp>& apps = {}, double cores = 1);
    ~FakeMonitor();

    Monitor& monitor() { return *monitor_; }

    // Runs one cycle over `apps` and returns once the Monitor has published it (false when it
    // did not within a few seconds). The list is shown in the Monitor's order: CPU descending.
    bool publish(const std::vector<FakeApp>& apps);

    struct Feed; // the canned figures the sources hand out

private:
    std::shared_ptr<Feed> feed_;
    std::unique_ptr<Monitor> monitor_;
};

} // namespace corvel::test
