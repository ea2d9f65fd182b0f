#include "ps_tool.h"

#include <stdexcept>

namespace corvel {

std::vector<PSRow> runPS(const char* toolPath, const ToolLimits& limits)
{
    static const std::vector<std::string> arguments = {"ps", "-axo",
                                                       "pid=,ppid=,pcpu=,rss=,command="};
    std::vector<std::string> args = arguments;
    args[0] = toolPath;
    return parsePS(captureOutput(toolPath, args, limits));
}

std::vector<PSRow> runPS()
{
    return runPS("/bin/ps", ToolLimits{});
}

std::vector<PSRow> PSToolSnapshotter::take()
{
    std::vector<PSRow> rows = runPS(tool_.c_str(), ToolLimits{});
    if (rows.empty())
        throw std::runtime_error(tool_ + " listed no process");
    return rows;
}

} // namespace corvel
