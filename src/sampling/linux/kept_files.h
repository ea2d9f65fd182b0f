#pragma once

#include "proc_dir.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvel {

// The stat files of processes read every cycle, kept open between cycles: a read of an open
// file costs a third of open, read and close. A kept file of a process that is gone reads as
// gone, never as a newcomer with the same pid, so a reused pid is opened afresh. At most
// `limit` are open at any time, whatever the order in which processes come and go.
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
    };

    explicit KeptFiles(std::size_t limit) : limit_(limit) {}
    KeptFiles(const KeptFiles&) = delete;
    KeptFiles& operator=(const KeptFiles&) = delete;

    // <pid>/stat into `buffer`: through the kept file when it still reads, else opened by
    // path and kept while there is room. -1 with errno set when it cannot be read.
    ssize_t readStat(ProcDir& dir, std::int32_t pid, File& file, char* buffer, std::size_t size);

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
