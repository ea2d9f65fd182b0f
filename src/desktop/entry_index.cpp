#include "entry_index.h"

#include "small_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvel {
namespace {

constexpr std::size_t maxEntryBytes = 256 * 1024;
constexpr int maxDepth = 8; // guards against symlinked folder loops

} // namespace

EntryIndex::EntryIndex(std::vector<std::string> folders, bool nested, std::string locale,
                       Timing timing)
    : folders_(std::move(folders)), nested_(nested), locale_(std::move(locale)), timing_(timing)
{}

bool EntryIndex::refresh(Clock::time_point now)
{
    if (built_ && now - lastCheck_ < timing_.checkEvery)
        return false;
    lastCheck_ = now;
    if (built_ && now - lastBuild_ < timing_.maxAge && !stampsChanged())
        return false;
    rebuild();
    built_ = true;
    lastBuild_ = now;
    return true;
}

EntryIndex::Stamp EntryIndex::stampOf(const std::string& path)
{
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return Stamp{path};
    return Stamp{path, static_cast<long long>(st.st_mtim.tv_sec),
                 static_cast<long long>(st.st_mtim.tv_nsec)};
}

bool EntryIndex::stampsChanged() const
{
    for (const Stamp& stamp : stamps_)
        if (stampOf(stamp.path) != stamp)
            return true;
    return false;
}

void EntryIndex::rebuild()
{
    table_ = EntryTable{};
    stamps_.clear();
    for (const std::string& folder : folders_)
        scanFolder(folder, "", 0);
}

void EntryIndex::scanFolder(const std::string& folder, const std::string& idPrefix, int depth)
{
    // Stamp before reading, so that a change made while reading is seen at the next check.
    stamps_.push_back(stampOf(folder));
    if (stamps_.back().seconds < 0)
        return;
    std::vector<std::pair<std::string, bool>> names; // and whether each is a folder
    if (!forEachEntry(folder, [&names](const FolderEntry& entry) {
            names.emplace_back(entry.name(), entry.isFolder());
        }))
        return;

    // Files before subfolders, so that "a-b.desktop" beats "a/b.desktop" whatever readdir says.
    std::vector<std::string> subfolders;
    for (const auto& [name, isFolder] : names) {
        const std::string path = folder + "/" + name;
        if (name.size() > 8 && name.ends_with(".desktop") && !isFolder) {
            const auto text = readSmallFile(path, maxEntryBytes); // nothing when implausibly large
            if (!text)
                continue;
            if (auto entry = parseDesktopEntry(*text, locale_))
                table_.add(idPrefix + name.substr(0, name.size() - 8), std::move(*entry));
        } else if (nested_ && depth < maxDepth && isFolder) {
            subfolders.push_back(name);
        }
    }
    for (const std::string& name : subfolders)
        scanFolder(folder + "/" + name, idPrefix + name + "-", depth + 1);
}

} // namespace corvel
