#include "support/temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace corvel::testing {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "corvel-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::write(const std::string& relative, const std::string& content)
{
    const std::filesystem::path file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out << content;
    return file;
}

std::filesystem::path TempDir::writeScript(const std::string& relative, const std::string& content)
{
    const std::filesystem::path file = write(relative, content);
    std::filesystem::permissions(file, std::filesystem::perms::owner_all);
    return file;
}

} // namespace corvel::testing
