#pragma once

// One ARGB buffer in shared memory that both Qt (as a QImage) and the compositor (as a
// wl_buffer) see.

#include <memory>

#include <QImage>
#include <QSize>

struct wl_buffer;
struct wl_shm;

namespace corvel {

class ShmBuffer
{
public:
    // `mapped` false: the pixels are never touched here (all transparent), so the memory is
    // only the compositor's. Null when the memory cannot be had.
    static std::unique_ptr<ShmBuffer> create(wl_shm* shm, QSize pixels, bool mapped = true);
    ~ShmBuffer();
    ShmBuffer(const ShmBuffer&) = delete;
    ShmBuffer& operator=(const ShmBuffer&) = delete;

    wl_buffer* buffer() const { return buffer_; }
    QSize size() const { return size_; }
    // Premultiplied ARGB over the shared pixels; null when not mapped.
    QImage& image() { return image_; }
    // The compositor holds the buffer from attach until it releases it; drawing into it then
    // would tear.
    bool busy() const { return busy_; }
    void setBusy() { busy_ = true; }

private:
    ShmBuffer() = default;

    wl_buffer* buffer_ = nullptr;
    QSize size_;
    void* pixels_ = nullptr;
    size_t bytes_ = 0;
    QImage image_;
    bool busy_ = false;
};

} // namespace corvel
