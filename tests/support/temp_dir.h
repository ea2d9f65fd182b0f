#pragma once

// A scratch folder a test makes for itself and removes, with everything in it, afterwards.

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>

namespace corvel::testing {

class TempDir
{
public:
    TempDir() : path_(std::filesystem::temp_directory_path() / "corvel-test-XXXXXX")
    {
        std::string pattern = path_.string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path path(std::string_view relative) const { return path_ / relative; }

    // Writes `content` to a file below the folder, making its folders; returns its path.
    std::filesystem::path write(std::string_view relative, std::string_view content) const
    {
        std::filesystem::create_directories(path(relative).parent_path());
        std::ofstream(path(relative), std::ios::binary) << content;
        return path(relative);
    }
    // The same, as an executable script.
    std::filesystem::path writeScript(std::string_view relative, std::string_view content) const
    {
        std::filesystem::permissions(write(relative, content), std::filesystem::perms::owner_all);
        return path(relative);
    }
    std::filesystem::path makeFolder(std::string_view relative) const
    {
        std::filesystem::create_directories(path(relative));
        return path(relative);
    }
    // Sets every folder's modification time far into the past, so that any later change is
    // seen even within the file system's timestamp granularity.
    void ageFolders() const
    {
        const timespec old[2] = {{946684800, 0}, {946684800, 0}}; // 2000-01-01
        ::utimensat(AT_FDCWD, path_.c_str(), old, 0);
        for (const auto& item : std::filesystem::recursive_directory_iterator(path_))
            if (item.is_directory() && !item.is_symlink())
                ::utimensat(AT_FDCWD, item.path().c_str(), old, 0);
    }

private:
    std::filesystem::path path_;
};

} // namespace corvel::testing
