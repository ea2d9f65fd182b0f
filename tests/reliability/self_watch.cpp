#include "self_watch.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <dirent.h>
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

bool numeric(const char* name)
{
    if (!*name)
        return false;
    for (; *name; ++name) {
        if (!std::isdigit(static_cast<unsigned char>(*name)))
            return false;
    }
    return true;
}

// One "Name:  value" line of /proc/self/status as a number.
std::int64_t statusField(const char* name)
{
    FILE* f = std::fopen("/proc/self/status", "re");
    if (!f)
        return -1;
    char line[256];
    std::int64_t value = -1;
    const std::size_t length = std::strlen(name);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, name, length) == 0 && line[length] == ':') {
            value = std::strtoll(line + length + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return value;
}

std::int64_t liveHeapKB()
{
#if defined(CORVEL_SANITIZED_ALLOCATOR)
    return static_cast<std::int64_t>(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    return static_cast<std::int64_t>(::mallinfo2().uordblks / 1024);
#endif
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
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (numeric(entry->d_name) && std::atoi(entry->d_name) != ::dirfd(dir))
            ++count;
    }
    ::closedir(dir);
    return count;
}

Holdings currentHoldings()
{
    Holdings h;
    h.descriptors = openDescriptors();
    h.threads = static_cast<int>(statusField("Threads"));
    h.residentKB = statusField("VmRSS");
    h.heapKB = liveHeapKB();

    // Children are found by their parent field: a zombie still has its stat file.
    const pid_t self = ::getpid();
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return h;
    while (const dirent* entry = ::readdir(proc)) {
        if (!numeric(entry->d_name))
            continue;
        char path[300];
        std::snprintf(path, sizeof path, "/proc/%s/stat", entry->d_name);
        FILE* f = std::fopen(path, "re");
        if (!f)
            continue;
        char buffer[1024];
        const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
        std::fclose(f);
        buffer[n] = '\0';
        const char* close = std::strrchr(buffer, ')');
        char state = 0;
        int ppid = 0;
        if (close && std::sscanf(close + 1, " %c %d", &state, &ppid) == 2 && ppid == self) {
            ++h.children;
            h.zombieChildren += state == 'Z';
        }
    }
    ::closedir(proc);
    return h;
}

std::string describe(const Holdings& h)
{
    char text[200];
    std::snprintf(text, sizeof text,
                  "descriptors %d, threads %d, resident %lld KiB, heap %lld KiB, children %d (%d "
                  "zombies)",
                  h.descriptors, h.threads, static_cast<long long>(h.residentKB),
                  static_cast<long long>(h.heapKB), h.children, h.zombieChildren);
    return text;
}

} // namespace corvel::testing
