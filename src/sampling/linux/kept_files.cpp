#include "kept_files.h"

#include <algorithm>
#include <linux/magic.h>
#include <string_view>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <utility>

namespace corvel {

KeptFiles::File::File(File&& other) noexcept
    : fd_(std::move(other.fd_)), owner_(std::exchange(other.owner_, nullptr)), name_(other.name_)
{}

KeptFiles::File& KeptFiles::File::operator=(File&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = std::move(other.fd_);
        owner_ = std::exchange(other.owner_, nullptr);
        name_ = other.name_;
    }
    return *this;
}

void KeptFiles::File::close()
{
    if (fd_.valid() && owner_)
        --owner_->open_;
    fd_.reset();
    owner_ = nullptr;
}

ssize_t KeptFiles::read(ProcDir& dir, std::int32_t pid, const char* name, File& file, char* buffer,
                        std::size_t size)
{
    if (file.open() && std::string_view(file.name_) == name) {
        const ssize_t length = readFromStart(file.fd_.get(), buffer, size);
        if (length > 0)
            return length;
    }
    file.close(); // another file, or gone: the pid may be another process's by now
    UniqueFd fd = dir.open(pid, name);
    if (!fd.valid())
        return -1;
    const ssize_t length = readFromStart(fd.get(), buffer, size);
    if (length > 0 && open_ < limit_) {
        file.fd_ = std::move(fd);
        file.owner_ = this;
        file.name_ = name;
        ++open_;
    }
    return length;
}

std::size_t keptFileLimit(const std::string& procRoot, std::size_t wanted)
{
    struct statfs fs
    {
    };
    struct rlimit files
    {
    };
    if (::statfs(procRoot.c_str(), &fs) != 0 || fs.f_type != PROC_SUPER_MAGIC ||
        ::getrlimit(RLIMIT_NOFILE, &files) != 0)
        return 0;
    return std::min<std::size_t>(wanted, files.rlim_cur / 4);
}

} // namespace corvel
