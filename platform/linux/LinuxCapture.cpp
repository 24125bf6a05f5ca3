#include "platform/linux/LinuxCapture.h"

#include "foundation/Clock.h"
#include "foundation/Log.h"
#include "platform/Platform.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

namespace rivlo {
namespace {

int xioctl(int fd, unsigned long request, void* arg) {
    int rc;
    do {
        rc = ::ioctl(fd, request, arg);
    } while (rc == -1 && errno == EINTR);
    return rc;
}

bool isCaptureNode(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    v4l2_capability cap{};
    bool usable = false;
    if (xioctl(fd, VIDIOC_QUERYCAP, &cap) == 0) {
        const uint32_t caps =
            (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
        usable = (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
    }
    ::close(fd);
    return usable;
}

uint8_t clampByte(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// Reads YUYV pictures from an opened node through memory-mapped buffers.
class V4L2Source : public CaptureSource {
  public:
    V4L2Source(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
    ~V4L2Source() override {
        stop();
        ::close(fd_);
    }

    CaptureMediaType mediaType() const override { return CaptureMediaType::Video; }

    bool start(const CaptureFormat& format, std::shared_ptr<CaptureSampleSink> sink) override {
        stop();
        if (!sink || format.width <= 0 || format.height <= 0) return false;
        v4l2_format fmt{};
        fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        fmt.fmt.pix.width = static_cast<uint32_t>(format.width);
        fmt.fmt.pix.height = static_cast<uint32_t>(format.height);
        fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
        fmt.fmt.pix.field = V4L2_FIELD_NONE;
        if (xioctl(fd_, VIDIOC_S_FMT, &fmt) != 0 || fmt.fmt.pix.pixelformat != V4L2_PIX_FMT_YUYV) {
            RVLog("Rivlo: Camera %s does not deliver YUYV pictures", name_.c_str());
            return false;
        }
        sourceWidth_ = static_cast<int>(fmt.fmt.pix.width);
        sourceHeight_ = static_cast<int>(fmt.fmt.pix.height);
        stride_ = std::max<int>(static_cast<int>(fmt.fmt.pix.bytesperline), sourceWidth_ * 2);

        v4l2_requestbuffers req{};
        req.count = 4;
        req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        req.memory = V4L2_MEMORY_MMAP;
        if (xioctl(fd_, VIDIOC_REQBUFS, &req) != 0 || req.count < 2) return false;
        for (uint32_t i = 0; i < req.count; ++i) {
            v4l2_buffer buf{};
            buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buf.memory = V4L2_MEMORY_MMAP;
            buf.index = i;
            if (xioctl(fd_, VIDIOC_QUERYBUF, &buf) != 0) return releaseBuffers();
            void* p =
                ::mmap(nullptr, buf.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, buf.m.offset);
            if (p == MAP_FAILED) return releaseBuffers();
            buffers_.push_back({p, buf.length});
            if (xioctl(fd_, VIDIOC_QBUF, &buf) != 0) return releaseBuffers();
        }
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(fd_, VIDIOC_STREAMON, &type) != 0) return releaseBuffers();
        stopping_ = false;
        thread_ = std::thread(
            [this, sink, w = format.width, h = format.height] { readLoop(*sink, w, h); });
        return true;
    }

    void stop() override {
        if (!thread_.joinable()) return;
        stopping_ = true;
        thread_.join();
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        xioctl(fd_, VIDIOC_STREAMOFF, &type);
        releaseBuffers();
    }

  private:
    struct Mapping {
        void* start;
        size_t length;
    };

    bool releaseBuffers() {
        for (const auto& m : buffers_)
            ::munmap(m.start, m.length);
        buffers_.clear();
        v4l2_requestbuffers req{};
        req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        req.memory = V4L2_MEMORY_MMAP;
        xioctl(fd_, VIDIOC_REQBUFS, &req);
        return false;
    }

    // Source thread: each picture converted to BGRA at the wanted size (nearest pixel).
    void readLoop(CaptureSampleSink& sink, int width, int height) {
        PixelBuffer picture(width, height);
        while (!stopping_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            v4l2_buffer buf{};
            buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buf.memory = V4L2_MEMORY_MMAP;
            if (xioctl(fd_, VIDIOC_DQBUF, &buf) != 0) continue;
            if (buf.index < buffers_.size()) {
                convert(static_cast<const uint8_t*>(buffers_[buf.index].start), picture);
                sink.captureVideoFrame(picture, Clock::monotonic());
            }
            xioctl(fd_, VIDIOC_QBUF, &buf);
        }
    }

    void convert(const uint8_t* yuyv, PixelBuffer& out) const {
        out.lockBaseAddress();
        uint8_t* base = out.baseAddress();
        for (int y = 0; y < out.height(); ++y) {
            const int sy = y * sourceHeight_ / out.height();
            const uint8_t* row = yuyv + static_cast<size_t>(sy) * static_cast<size_t>(stride_);
            uint8_t* dst = base + static_cast<size_t>(y) * out.bytesPerRow();
            for (int x = 0; x < out.width(); ++x) {
                const int sx = x * sourceWidth_ / out.width();
                const uint8_t* pair = row + (sx / 2) * 4;
                const int luma = (sx % 2 == 0 ? pair[0] : pair[2]) - 16;
                const int u = pair[1] - 128;
                const int v = pair[3] - 128;
                dst[x * 4 + 0] = clampByte((298 * luma + 516 * u + 128) >> 8);
                dst[x * 4 + 1] = clampByte((298 * luma - 100 * u - 208 * v + 128) >> 8);
                dst[x * 4 + 2] = clampByte((298 * luma + 409 * v + 128) >> 8);
                dst[x * 4 + 3] = 255;
            }
        }
        out.unlockBaseAddress();
    }

    const int fd_;
    const std::string name_;
    int sourceWidth_ = 0, sourceHeight_ = 0, stride_ = 0;
    std::vector<Mapping> buffers_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

class V4L2Camera : public CaptureDevice {
  public:
    V4L2Camera(std::string path, int position) : path_(std::move(path)), position_(position) {}
    std::string uniqueID() const override { return path_; }
    std::string localizedName() const override { return path_; }
    CaptureMediaType mediaType() const override { return CaptureMediaType::Video; }
    int position() const override { return position_; }

    std::shared_ptr<CaptureSource> open(Error* error) override {
        const int fd = ::open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            const int e = errno;
            if (error) {
                *error = Error(CaptureErrorDomain,
                               e == EACCES || e == EPERM
                                   ? CaptureErrorCode::ApplicationIsNotAuthorizedToUseDevice
                                   : CaptureErrorCode::DeviceNotConnected,
                               Value{{ErrorKey::LocalizedDescription,
                                      "Cannot open " + path_ + ": " + std::strerror(e)}});
            }
            return nullptr;
        }
        return std::make_shared<V4L2Source>(fd, path_);
    }

  private:
    std::string path_;
    int position_;
};

}  // namespace

LinuxCapture::LinuxCapture(bool offerAsFrontCamera, std::string deviceDirectory)
    : front_(offerAsFrontCamera), directory_(std::move(deviceDirectory)) {}

std::vector<std::string> LinuxCapture::usableCameraPaths(const std::string& deviceDirectory) {
    std::vector<std::string> paths;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(deviceDirectory, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("video", 0) != 0) continue;
        if (isCaptureNode(entry.path().string())) paths.push_back(entry.path().string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::vector<std::shared_ptr<CaptureDevice>> LinuxCapture::devices() const {
    std::vector<std::shared_ptr<CaptureDevice>> out;
    for (const auto& path : usableCameraPaths(directory_)) {
        out.push_back(std::make_shared<V4L2Camera>(
            path, front_ ? CaptureDevicePosition::Front : CaptureDevicePosition::Unspecified));
    }
    return out;
}

void LinuxCapture::install(bool offerAsFrontCamera) {
    Platform::current().setService<CaptureDeviceDiscovery>(
        std::make_shared<LinuxCapture>(offerAsFrontCamera));
}

}  // namespace rivlo
