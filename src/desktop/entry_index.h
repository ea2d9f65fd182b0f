#pragma once

#include "entry_table.h"

#include <chrono>
#include <string>
#include <vector>

namespace corvel {

// The desktop entries of a list of folders, read once and read again when the folders change.
// Change is seen through the modification times of the folders (a file added, removed or
// renamed into place changes them), looked at no more often than `checkEvery`; the whole
// index is also read again when it is older than `maxAge`, for files edited in place.
class EntryIndex
{
public:
    using Clock = std::chrono::steady_clock;

    struct Timing
    {
        Clock::duration checkEvery = std::chrono::seconds(5);
        Clock::duration maxAge = std::chrono::seconds(60);
    };

    // `folders` best first. `nested`: files in subfolders count, their ids joined with "-"
    // (the applications folders); otherwise only the folder's own files (autostart).
    EntryIndex(std::vector<std::string> folders, bool nested, std::string locale, Timing timing);

    // Reads the folders again when they changed; true when it did.
    bool refresh(Clock::time_point now);

    const EntryTable& table() const { return table_; }

private:
    struct Stamp
    {
        std::string path;
        long long seconds = -1; // -1: the folder does not exist
        long long nanoseconds = 0;
        bool operator==(const Stamp&) const = default;
    };

    void rebuild();
    void scanFolder(const std::string& folder, const std::string& idPrefix, int depth);
    bool stampsChanged() const;
    static Stamp stampOf(const std::string& path);

    std::vector<std::string> folders_;
    bool nested_;
    std::string locale_;
    Timing timing_;
    EntryTable table_;
    std::vector<Stamp> stamps_;
    bool built_ = false;
    Clock::time_point lastCheck_{};
    Clock::time_point lastBuild_{};
};

} // namespace corvel
