#pragma once

#include "proc_dir.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvel {

// For each process, the file it is read by first every cycle (stat, or schedstat while it does
// not run), kept open between cycles: a read of an open file saves the open and close, half
// the cost of a stat file and most of a schedstat's. A kept file of a process that is gone
// reads as gone, never as a newcomer with the same pid, so a reused pid is opened afresh. At
// most `limit` are open at any time, whatever the order in which processes come and go: each
// holds a page of the kernel's memory.
class KeptFiles
{
public:
    // One process's slot; closes its file, and gives its place back, when it goes.
    class File
    {
    public:
        File() = default;
        File(File&& other) noexcept;
        File& operator=(File&& other) noexcept;
        ~File() { close(); }
        void close();
        bool open() const { return fd_.valid(); }

    private:
        friend class KeptFiles;
        UniqueFd fd_;
        KeptFiles* owner_ = nullptr;
        const char* name_ = nullptr; // which of the process's files
    };

    explicit KeptFiles(std::size_t limit) : limit_(limit) {}
    KeptFiles(const KeptFiles&) = delete;
    KeptFiles& operator=(const KeptFiles&) = delete;

    // <pid>/<name> into `buffer`: through the kept file when it is that one and still reads,
    // else opened by path and kept, in place of the one kept before, while there is room. -1
    // with errno set when it cannot be read.
    ssize_t read(ProcDir& dir, std::int32_t pid, const char* name, File& file, char* buffer,
                 std::size_t size);

    std::size_t open() const { return open_; }

private:
    std::size_t limit_;
    std::size_t open_ = 0;
};

// How many stat files to keep for a tree at `procRoot`: `wanted`, and no more than a quarter
// of the open-file limit, on a real proc file system; none elsewhere (a tree written by a test
// keeps its exact behaviour).
std::size_t keptFileLimit(const std::string& procRoot, std::size_t wanted);

} // namespace corvel
