#include "support/temp_dir.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace corvel::testing {

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "corvel-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

fs::path TempDir::write(std::string_view relative, std::string_view content) const
{
    const fs::path file = path(relative);
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(content.data(), static_cast<std::streamsize>(content.size()));
    return file;
}

fs::path TempDir::writeScript(std::string_view relative, std::string_view content) const
{
    const fs::path file = write(relative, content);
    fs::permissions(file, fs::perms::owner_all);
    return file;
}

fs::path TempDir::makeFolder(std::string_view relative) const
{
    fs::create_directories(path(relative));
    return path(relative);
}

void TempDir::ageFolders() const
{
    const timespec old[2] = {{946684800, 0}, {946684800, 0}}; // 2000-01-01
    ::utimensat(AT_FDCWD, path_.c_str(), old, 0);
    for (const auto& item : fs::recursive_directory_iterator(path_))
        if (item.is_directory() && !item.is_symlink())
            ::utimensat(AT_FDCWD, item.path().c_str(), old, 0);
}

} // namespace corvel::testing
