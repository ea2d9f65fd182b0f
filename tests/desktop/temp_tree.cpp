#include "temp_tree.h"

#include <fcntl.h>
#include <fstream>
#include <stdexcept>
#include <stdlib.h>
#include <sys/stat.h>
#include <vector>

namespace corvel::test {

TempTree::TempTree()
{
    std::string pattern =
        (std::filesystem::temp_directory_path() / "corvel-desktop-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data()))
        throw std::runtime_error("mkdtemp failed");
    root_ = buffer.data();
}

TempTree::~TempTree()
{
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::string TempTree::write(std::string_view relative, std::string_view text) const
{
    const std::filesystem::path file = path(relative);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return file.string();
}

std::string TempTree::makeFolder(std::string_view relative) const
{
    std::filesystem::create_directories(path(relative));
    return path(relative);
}

void TempTree::ageFolders() const
{
    const timespec old[2] = {{946684800, 0}, {946684800, 0}}; // 2000-01-01
    ::utimensat(AT_FDCWD, root_.c_str(), old, 0);
    for (const auto& item : std::filesystem::recursive_directory_iterator(root_))
        if (item.is_directory() && !item.is_symlink())
            ::utimensat(AT_FDCWD, item.path().c_str(), old, 0);
}

} // namespace corvel::test
