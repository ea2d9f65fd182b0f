#include "support/self_watch.h"

#include <cctype>
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

bool sanitizedAllocator()
{
#if defined(CORVEL_SANITIZED_ALLOCATOR)
    return true;
#else
    return false;
#endif
}

int openDescriptors()
{
    int count = 0;
    for ([[maybe_unused]] const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count - 1;
}

Holdings currentHoldings()
{
    Holdings h;
    h.descriptors = openDescriptors();
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
        if (!std::isdigit(static_cast<unsigned char>(entry.path().filename().c_str()[0])))
            continue;
        std::ifstream stat(entry.path() / "stat");
        const std::string text{std::istreambuf_iterator<char>(stat), {}};
        const auto close = text.rfind(')');
        char state = 0;
        pid_t parent = 0;
        if (close != std::string::npos && std::istringstream(text.substr(close + 1)) >> state >> parent &&
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
