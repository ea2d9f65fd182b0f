#pragma once

// A scratch folder a test makes for itself and removes afterwards.

#include <filesystem>
#include <string>

namespace corvel::testing {

class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Writes `content` to a file below the folder, making parent folders; returns its path.
    std::filesystem::path write(const std::string& relative, const std::string& content);
    // The same, as an executable script.
    std::filesystem::path writeScript(const std::string& relative, const std::string& content);

private:
    std::filesystem::path path_;
};

} // namespace corvel::testing
