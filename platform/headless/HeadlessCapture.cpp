#include "platform/headless/HeadlessCapture.h"

#include "foundation/Clock.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace rivlo {
namespace {

// A thread that runs a step at times it is told, until stopped. start and stop from one thread
// at a time.
class PacedThread {
  public:
    ~PacedThread() { stop(); }

    // step(n) runs for n = 0, 1, 2 ... and returns the monotonic time of the next step.
    void start(std::function<double(uint64_t)> step) {
        stop();
        {
            std::lock_guard lock(mutex_);
            stopping_ = false;
        }
        thread_ = std::thread([this, step = std::move(step)] {
            uint64_t n = 0;
            while (true) {
                const double next = step(n++);
                std::unique_lock lock(mutex_);
                const double wait = next - Clock::monotonic();
                if (wait > 0) {
                    cv_.wait_for(lock, std::chrono::duration<double>(wait),
                                 [this] { return stopping_; });
                }
                if (stopping_) return;
            }
        });
    }

    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool stopping_ = false;
    std::thread thread_;
};

class SyntheticCameraSource : public CaptureSource {
  public:
    explicit SyntheticCameraSource(std::shared_ptr<HeadlessCapture::State> state)
        : state_(std::move(state)) {}
    ~SyntheticCameraSource() override { stop(); }

    CaptureMediaType mediaType() const override { return CaptureMediaType::Video; }

    bool start(const CaptureFormat& format, std::shared_ptr<CaptureSampleSink> sink) override {
        if (format.width <= 0 || format.height <= 0 || !sink) return false;
        const double interval = 1.0 / (format.frameRate > 0 ? format.frameRate : 15);
        auto buffer = std::make_shared<PixelBuffer>(format.width, format.height);
        auto state = state_;
        const double begin = Clock::monotonic();
        thread_.start([=](uint64_t n) {
            const double now = Clock::monotonic();
            draw(*buffer, now - begin);
            sink->captureVideoFrame(*buffer, now);
            state->frames.fetch_add(1);
            return begin + static_cast<double>(n + 1) * interval;
        });
        return true;
    }

    void stop() override { thread_.stop(); }

  private:
    // A colour wash that drifts with time and a white square crossing the frame each second.
    static void draw(PixelBuffer& buffer, double t) {
        buffer.lockBaseAddress();
        const int w = buffer.width(), h = buffer.height();
        uint8_t* base = buffer.baseAddress();
        const int shift = static_cast<int>(t * 60);
        const int side = std::max(4, h / 4);
        const double phase = t - std::floor(t);
        const int squareX = static_cast<int>(phase * (w - side));
        const int squareY = (h - side) / 2;
        for (int y = 0; y < h; ++y) {
            uint8_t* row = base + static_cast<size_t>(y) * buffer.bytesPerRow();
            for (int x = 0; x < w; ++x) {
                uint8_t* p = row + static_cast<size_t>(x) * 4;
                const bool inSquare =
                    x >= squareX && x < squareX + side && y >= squareY && y < squareY + side;
                p[0] = inSquare ? 255 : static_cast<uint8_t>((x + shift) & 0xff);        // blue
                p[1] = inSquare ? 255 : static_cast<uint8_t>((y * 2) & 0xff);            // green
                p[2] = inSquare ? 255 : static_cast<uint8_t>((128 + shift * 3) & 0xff);  // red
                p[3] = 255;
            }
        }
        buffer.unlockBaseAddress();
    }

    std::shared_ptr<HeadlessCapture::State> state_;
    PacedThread thread_;
};

class ToneMicrophoneSource : public CaptureSource {
  public:
    explicit ToneMicrophoneSource(std::shared_ptr<HeadlessCapture::State> state)
        : state_(std::move(state)) {}
    ~ToneMicrophoneSource() override { stop(); }

    CaptureMediaType mediaType() const override { return CaptureMediaType::Audio; }

    bool start(const CaptureFormat& format, std::shared_ptr<CaptureSampleSink> sink) override {
        if (format.sampleRate <= 0 || format.channels <= 0 || !sink) return false;
        constexpr size_t kBlock = 1024;
        auto state = state_;
        const double begin = Clock::monotonic();
        const double rate = format.sampleRate;
        const auto channels = static_cast<size_t>(format.channels);
        auto samples = std::make_shared<std::vector<int16_t>>(kBlock * channels);
        // Each block is delivered once it has been "heard": at the time of its last sample.
        thread_.start([=](uint64_t n) {
            const uint64_t first = n * kBlock;
            if (n > 0) {
                for (size_t i = 0; i < kBlock; ++i) {
                    const double s = static_cast<double>(first - kBlock + i) / rate;
                    const auto v = static_cast<int16_t>(
                        std::lround(0.3 * 32767.0 * std::sin(2.0 * 3.141592653589793 * 440.0 * s)));
                    for (size_t c = 0; c < channels; ++c)
                        (*samples)[i * channels + c] = v;
                }
                sink->captureAudioSamples(samples->data(), kBlock, format,
                                          begin + static_cast<double>(first - kBlock) / rate);
                state->audioBlocks.fetch_add(1);
            }
            return begin + static_cast<double>(first + kBlock) / rate;
        });
        return true;
    }

    void stop() override { thread_.stop(); }

  private:
    std::shared_ptr<HeadlessCapture::State> state_;
    PacedThread thread_;
};

class HeadlessCaptureDevice : public CaptureDevice {
  public:
    HeadlessCaptureDevice(std::string id, std::string name, CaptureMediaType type, int position,
                          std::shared_ptr<HeadlessCapture::State> state)
        : id_(std::move(id)),
          name_(std::move(name)),
          type_(type),
          position_(position),
          state_(std::move(state)) {}

    std::string uniqueID() const override { return id_; }
    std::string localizedName() const override { return name_; }
    CaptureMediaType mediaType() const override { return type_; }
    int position() const override { return position_; }

    std::shared_ptr<CaptureSource> open(Error* error) override {
        if (type_ == CaptureMediaType::Audio) {
            return std::make_shared<ToneMicrophoneSource>(state_);
        }
        {
            std::unique_lock lock(state_->openMutex);
            ++state_->opening;
            state_->openReleased.wait(lock, [this] { return !state_->holdOpening; });
            --state_->opening;
        }
        if (state_->accessDenied.load()) {
            if (error) {
                *error = Error(CaptureErrorDomain,
                               CaptureErrorCode::ApplicationIsNotAuthorizedToUseDevice,
                               Value{{ErrorKey::LocalizedDescription, "Cannot use " + name_},
                                     {ErrorKey::LocalizedFailureReason,
                                      "This app is not authorized to use " + name_ + "."}});
            }
            return nullptr;
        }
        return std::make_shared<SyntheticCameraSource>(state_);
    }

  private:
    std::string id_, name_;
    CaptureMediaType type_;
    int position_;
    std::shared_ptr<HeadlessCapture::State> state_;
};

}  // namespace

HeadlessCapture::HeadlessCapture(std::shared_ptr<HeadlessDevice> device,
                                 const HeadlessProfile& profile)
    : device_(std::move(device)) {
    state_->accessDenied = profile.cameraAccessDenied;
    state_->microphone = profile.microphone;
    back_ = std::make_shared<HeadlessCaptureDevice>("com.rivlo.headless.camera.back", "Back Camera",
                                                    CaptureMediaType::Video,
                                                    CaptureDevicePosition::Back, state_);
    front_ = std::make_shared<HeadlessCaptureDevice>("com.rivlo.headless.camera.front",
                                                     "Front Camera", CaptureMediaType::Video,
                                                     CaptureDevicePosition::Front, state_);
    microphone_ = std::make_shared<HeadlessCaptureDevice>(
        "com.rivlo.headless.microphone", "iPhone Microphone", CaptureMediaType::Audio,
        CaptureDevicePosition::Unspecified, state_);
}

HeadlessCapture::~HeadlessCapture() {
    holdCameraOpening(false);
}

void HeadlessCapture::holdCameraOpening(bool hold) {
    {
        std::lock_guard lock(state_->openMutex);
        state_->holdOpening = hold;
    }
    state_->openReleased.notify_all();
}

int HeadlessCapture::camerasOpening() const {
    std::lock_guard lock(state_->openMutex);
    return state_->opening;
}

std::vector<std::shared_ptr<CaptureDevice>> HeadlessCapture::devices() const {
    std::vector<std::shared_ptr<CaptureDevice>> out;
    if (device_ && device_->hasVideoCaptureDevice()) out.push_back(back_);
    if (device_ && device_->isFrontCameraAvailable()) out.push_back(front_);
    if (state_->microphone.load()) out.push_back(microphone_);
    return out;
}

}  // namespace rivlo
