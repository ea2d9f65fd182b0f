#pragma once

// A scratch folder a test makes for itself and removes, with everything in it, afterwards.

#include <filesystem>
#include <string_view>

namespace corvel::testing {

class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path path(std::string_view relative) const { return path_ / relative; }

    // Writes `content` to a file below the folder, making its folders; returns its path.
    std::filesystem::path write(std::string_view relative, std::string_view content) const;
    // The same, as an executable script.
    std::filesystem::path writeScript(std::string_view relative, std::string_view content) const;
    std::filesystem::path makeFolder(std::string_view relative) const;

    // Sets every folder's modification time far into the past, so that any later change is
    // seen even within the file system's timestamp granularity.
    void ageFolders() const;

private:
    std::filesystem::path path_;
};

} // namespace corvel::testing
