#include "support/self_watch.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// From the sanitizer runtime; its header does not come with every compiler.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#define CORVEL_SANITIZED_ALLOCATOR 1
#else
#include <malloc.h>
#endif

namespace corvel::testing {
namespace {

// The number after "name:" in /proc/self/status.
std::int64_t statusField(const std::string& name)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(name + ":", 0) == 0)
            return std::stoll(line.substr(name.size() + 1));
    return -1;
}

} // namespace

std::string statAfterName(pid_t pid)
{
    if (pid <= 0)
        return {};
    // C streams: a process that vanishes mid-read is a short read, not an exception.
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    FILE* file = std::fopen(path, "re");
    if (!file)
        return {};
    char buffer[1024];
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
    std::fclose(file);
    const std::string text(buffer, n);
    const auto close = text.rfind(')');
    return close == std::string::npos ? std::string() : text.substr(close + 1);
}

bool sanitizedAllocator()
{
#if defined(CORVEL_SANITIZED_ALLOCATOR)
    return true;
#else
    return false;
#endif
}

Holdings currentHoldings()
{
    Holdings h;
    for ([[maybe_unused]] const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
        ++h.descriptors;
    --h.descriptors; // the one that listed them
    h.threads = static_cast<int>(statusField("Threads"));
    h.residentKB = statusField("VmRSS");
#if defined(CORVEL_SANITIZED_ALLOCATOR)
    h.heapKB = static_cast<std::int64_t>(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    h.heapKB = static_cast<std::int64_t>(::mallinfo2().uordblks / 1024);
#endif
    // Children are found by their parent field: a zombie still has its stat file.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
        char state = 0;
        pid_t parent = 0;
        if (std::istringstream(statAfterName(std::atoi(entry.path().filename().c_str()))) >>
                state >> parent &&
            parent == ::getpid()) {
            ++h.children;
            h.zombieChildren += state == 'Z';
        }
    }
    return h;
}

std::string describe(const Holdings& h)
{
    std::ostringstream text;
    text << "descriptors " << h.descriptors << ", threads " << h.threads << ", resident "
         << h.residentKB << " KiB, heap " << h.heapKB << " KiB, children " << h.children << " ("
         << h.zombieChildren << " zombies)";
    return text.str();
}

} // namespace corvel::testing
