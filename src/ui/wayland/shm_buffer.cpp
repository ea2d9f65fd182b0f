#include "shm_buffer.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

namespace corvel {
namespace {

void released(void* data, wl_buffer*)
{
    *static_cast<bool*>(data) = false;
}

const wl_buffer_listener releaseListener{.release = &released};

} // namespace

std::unique_ptr<ShmBuffer> ShmBuffer::create(wl_shm* shm, QSize pixels, bool mapped)
{
    if (pixels.isEmpty())
        return nullptr;
    const int stride = pixels.width() * 4;
    const size_t bytes = static_cast<size_t>(stride) * static_cast<size_t>(pixels.height());
    const int fd = memfd_create("corvel-panel", MFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    std::unique_ptr<ShmBuffer> self(new ShmBuffer);
    self->size_ = pixels;
    if (ftruncate(fd, static_cast<off_t>(bytes)) < 0) {
        close(fd);
        return nullptr;
    }
    if (mapped) {
        void* pixelsAt = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (pixelsAt == MAP_FAILED) {
            close(fd);
            return nullptr;
        }
        self->pixels_ = pixelsAt;
        self->bytes_ = bytes;
        self->image_ = QImage(static_cast<uchar*>(pixelsAt), pixels.width(), pixels.height(),
                              stride, QImage::Format_ARGB32_Premultiplied);
    }
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<int32_t>(bytes));
    self->buffer_ = wl_shm_pool_create_buffer(pool, 0, pixels.width(), pixels.height(), stride,
                                              WL_SHM_FORMAT_ARGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_buffer_add_listener(self->buffer_, &releaseListener, &self->busy_);
    return self;
}

ShmBuffer::~ShmBuffer()
{
    image_ = QImage();
    if (buffer_)
        wl_buffer_destroy(buffer_);
    if (pixels_)
        munmap(pixels_, bytes_);
}

} // namespace corvel
