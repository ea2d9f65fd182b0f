#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace corvel::test {

// A folder of the test's own under the temp dir, removed with everything in it at the end.
class TempTree
{
public:
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::string& root() const { return root_; }
    std::string path(std::string_view relative) const
    {
        return root_ + "/" + std::string(relative);
    }

    // Writes a file, making its folders; returns its path.
    std::string write(std::string_view relative, std::string_view text) const;
    std::string makeFolder(std::string_view relative) const;

    // Sets every folder's modification time far into the past, so that any later change is
    // seen even within the file system's timestamp granularity.
    void ageFolders() const;

private:
    std::string root_;
};

} // namespace corvel::test
