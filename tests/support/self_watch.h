#pragma once

// What this process holds right now, read from /proc/self: the figures a long run must keep
// flat, and the children a test must not leave behind.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// From the sanitizer runtime (its header does not come with every compiler); a sanitizer's
// allocator holds freed blocks back on purpose, so its resident size says little.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#define CORVEL_SANITIZED 1
#else
#include <malloc.h>
#define CORVEL_SANITIZED 0
#endif

namespace corvel::testing {

struct Holdings
{
    int descriptors = 0, threads = 0, keptFiles = 0, children = 0;
    std::int64_t residentKB = 0, heapKB = 0; // heap: in live allocations, as the allocator counts
    std::set<std::string> ended;             // "fd file" of kept files whose process is gone
};

// What /proc/<pid>/stat says after the process's name (" S 1 ..."); empty once it is gone.
inline std::string statAfterName(pid_t pid)
{
    std::string text; // a process that vanishes mid-read leaves a short read
    if (pid > 0)
        std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), text);
    const auto close = text.rfind(')');
    return close == std::string::npos ? std::string() : text.substr(close + 1);
}

inline Holdings currentHoldings()
{
    Holdings h;
    // The sampler keeps a file of each process it reads open, up to a limit: counted apart.
    // One of a process that ended since the sampler's last read is held until its next.
    std::error_code ignored;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        const std::string to = std::filesystem::read_symlink(fd, ignored).string();
        const auto slash = to.find('/', 6);
        const bool kept = to.starts_with("/proc/") && slash > 6 && slash != std::string::npos &&
                          to.find_first_not_of("0123456789", 6) == slash;
        h.keptFiles += kept;
        h.descriptors += !kept;
        if (kept && !std::filesystem::exists(to.substr(0, slash), ignored))
            h.ended.insert(fd.path().filename().string() + " " + to);
    }
    --h.descriptors; // the one that listed them
    std::ifstream status("/proc/self/status");
    for (std::string word; status >> word;)
        if (word == "Threads:")
            status >> h.threads;
        else if (word == "VmRSS:")
            status >> h.residentKB;
#if CORVEL_SANITIZED
    h.heapKB = static_cast<std::int64_t>(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    h.heapKB = static_cast<std::int64_t>(::mallinfo2().uordblks / 1024);
#endif
    // Children are found by their parent field: a zombie still has its stat file.
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
        char state = 0;
        pid_t parent = 0;
        std::istringstream stat(statAfterName(std::atoi(entry.path().filename().c_str())));
        h.children += stat >> state >> parent && parent == ::getpid();
    }
    return h;
}

inline std::string describe(const Holdings& h)
{
    std::ostringstream text;
    text << "descriptors " << h.descriptors << ", threads " << h.threads << ", resident "
         << h.residentKB << " KiB, heap " << h.heapKB << " KiB, children " << h.children;
    return text.str();
}

} // namespace corvel::testing
