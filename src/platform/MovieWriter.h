#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace rivlo {

// A point on a movie's time line: value / timescale seconds. A timescale of 0 marks an
// invalid time.
struct MediaTime {
    int64_t value = 0;
    int32_t timescale = 0;

    bool isValid() const { return timescale > 0; }
    double seconds() const { return timescale > 0 ? static_cast<double>(value) / timescale : 0.0; }
};

// Container of a movie file.
enum class MovieFileType { QuickTimeMovie };

// Compression of a video track.
enum class VideoCodec { H264 };

// Source pixel formats an adaptor accepts (four-character codes).
enum class PixelFormat : uint32_t { BGRA32 = 0x42475241 };

// What a video input encodes: codec, frame size in pixels, average bit rate (bits per second)
// and the largest number of frames between two key frames.
struct VideoOutputSettings {
    VideoCodec codec = VideoCodec::H264;
    int width = 0;
    int height = 0;
    double averageBitRate = 0;
    float maxKeyFrameInterval = 0;
};

// A frame buffer of 32-bit BGRA pixels in rows of bytesPerRow() bytes (4 x width: no row
// padding). Lock the base address around CPU access; the lock is a real mutex, so a buffer may
// be filled on one thread while another thread holds it. Any thread.
class PixelBuffer {
  public:
    PixelBuffer(int width, int height)
        : width_(width > 0 ? width : 0),
          height_(height > 0 ? height : 0),
          bytes_(static_cast<size_t>(width_) * 4 * static_cast<size_t>(height_)) {}
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    size_t bytesPerRow() const { return static_cast<size_t>(width_) * 4; }
    size_t dataSize() const { return bytes_.size(); }
    PixelFormat pixelFormat() const { return PixelFormat::BGRA32; }

    void lockBaseAddress() { mutex_.lock(); }
    void unlockBaseAddress() { mutex_.unlock(); }
    // Valid while locked (the storage itself never moves).
    uint8_t* baseAddress() { return bytes_.data(); }
    const uint8_t* baseAddress() const { return bytes_.data(); }

  private:
    int width_;
    int height_;
    std::vector<uint8_t> bytes_;
    std::mutex mutex_;
};

// Raised by a writer that is used against its state (for example finishing a writer that has
// already finished), as the platform's writer does. Callers catch it around finishing.
class MovieWriterException : public std::exception {
  public:
    MovieWriterException(std::string name, std::string reason)
        : name_(std::move(name)), reason_(std::move(reason)), what_(name_ + ": " + reason_) {}
    const char* what() const noexcept override { return what_.c_str(); }
    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }

  private:
    std::string name_, reason_, what_;
};

// The single video input of a writer. Any thread.
class MovieWriterInput {
  public:
    virtual ~MovieWriterInput() = default;
    virtual const VideoOutputSettings& outputSettings() const = 0;
    // In real-time mode a frame that finds the encoder busy is refused instead of queued.
    virtual void setExpectsMediaDataInRealTime(bool realTime) = 0;
    virtual bool expectsMediaDataInRealTime() const = 0;
    // False while the encoder is still busy with the previous frame, and once the input is
    // finished or its writer is no longer writing.
    virtual bool isReadyForMoreMediaData() const = 0;
    // No frame is accepted afterwards.
    virtual void markAsFinished() = 0;
};

// Hands pixel buffers to an input. Any thread (frames of one input from one thread at a time).
class PixelBufferAdaptor {
  public:
    virtual ~PixelBufferAdaptor() = default;
    // A buffer of the input's frame size from the adaptor's pool. Returns 0 and sets `out` on
    // success, a non-zero status otherwise (no writer is writing yet, for instance).
    virtual int createPixelBuffer(std::shared_ptr<PixelBuffer>& out) = 0;
    // Encodes the buffer's pixels at the presentation time. The pixels are taken before the call
    // returns, so the caller may refill the buffer at once. False when the frame was refused
    // (input not ready, size mismatch, time not after the previous frame, writer failed).
    virtual bool appendPixelBuffer(PixelBuffer& buffer, MediaTime presentationTime) = 0;
    // As appendPixelBuffer, from BGRA pixels the caller keeps (rows of bytesPerRow bytes, the
    // input's frame size): a frame already drawn in memory is converted without first being
    // copied into a pool buffer. The pixels are read before the call returns.
    virtual bool appendPixels(const uint8_t* pixels, size_t bytesPerRow, int width, int height,
                              MediaTime presentationTime) = 0;
    // The picture appended last is appended again at a later presentation time: the screen did
    // not change. No pixels are taken or converted; the movie gets a frame at that time as it
    // would from appendPixelBuffer with the same pixels. False as above, and when no picture has
    // been appended to this movie yet.
    virtual bool appendPreviousPixelBuffer(MediaTime presentationTime) = 0;
};

// Status values as the platform numbers them.
enum class MovieWriterStatus : int {
    Unknown = 0,
    Writing = 1,
    Completed = 2,
    Failed = 3,
    Cancelled = 4
};

// Writes one movie file. Set up on one thread, then appended to and finished on one thread at a
// time; status() on any thread. The finish handler runs on a thread of the writer's own.
class MovieWriter {
  public:
    virtual ~MovieWriter() = default;
    virtual const std::string& path() const = 0;
    virtual MovieWriterStatus status() const = 0;
    // Why the writer failed ("" while it has not).
    virtual std::string errorDescription() const = 0;

    // Before startWriting only. False when the input cannot be added.
    virtual bool addInput(std::shared_ptr<MovieWriterInput> input) = 0;
    // Opens the file; Writing on success, Failed otherwise.
    virtual bool startWriting() = 0;
    // The time line of the movie begins at this source time; its timescale is the movie's.
    virtual void startSessionAtSourceTime(MediaTime time) = 0;
    // The movie ends at this source time, however long ago the last frame was appended.
    virtual void endSessionAtSourceTime(MediaTime time) = 0;
    // Encodes what is left, closes the file and then calls the handler once, on another thread,
    // whatever the outcome (look at status()). Throws MovieWriterException when the writer is
    // not writing (already finishing, finished, failed before writing began).
    virtual void finishWriting(std::function<void()> handler) = 0;
};

// Creates writers, inputs and adaptors of one implementation. Any thread. Installed with
// Platform::current().setService<MovieWriterFactory>(...).
class MovieWriterFactory {
  public:
    virtual ~MovieWriterFactory() = default;
    // nullptr with a reason in `error` when no writer can be made for the path.
    virtual std::shared_ptr<MovieWriter> createWriter(const std::string& path,
                                                      MovieFileType fileType,
                                                      std::string* error) = 0;
    virtual std::shared_ptr<MovieWriterInput> createVideoInput(
        const VideoOutputSettings& settings) = 0;
    virtual std::shared_ptr<PixelBufferAdaptor> createPixelBufferAdaptor(
        std::shared_ptr<MovieWriterInput> input, PixelFormat sourceFormat) = 0;
};

}  // namespace rivlo
