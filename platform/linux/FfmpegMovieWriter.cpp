#include "platform/linux/FfmpegMovieWriter.h"

#include "platform/Platform.h"
#include "platform/linux/FfmpegCaptureEncoder.h"
#include "platform/linux/FfmpegMovieDuration.h"

#include "foundation/BackgroundThreads.h"
#include "platform/linux/FfmpegSupport.h"
#include "platform/linux/H264PictureRepeater.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include <libyuv/convert_from_argb.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace rivlo {
namespace {

const char* kInconsistency = "NSInternalInconsistencyException";

class FfmpegMovieWriter;

class FfmpegWriterInput : public MovieWriterInput {
  public:
    explicit FfmpegWriterInput(const VideoOutputSettings& settings) : settings_(settings) {}

    const VideoOutputSettings& outputSettings() const override { return settings_; }
    void setExpectsMediaDataInRealTime(bool realTime) override { realTime_ = realTime; }
    bool expectsMediaDataInRealTime() const override { return realTime_; }
    bool isReadyForMoreMediaData() const override;
    void markAsFinished() override { finished_ = true; }

    bool isFinished() const { return finished_; }
    void attach(const std::shared_ptr<FfmpegMovieWriter>& writer) {
        std::lock_guard<std::mutex> lock(mutex_);
        writer_ = writer;
    }
    std::shared_ptr<FfmpegMovieWriter> writer() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return writer_.lock();
    }

  private:
    const VideoOutputSettings settings_;
    std::atomic<bool> realTime_{false};
    std::atomic<bool> finished_{false};
    mutable std::mutex mutex_;
    std::weak_ptr<FfmpegMovieWriter> writer_;
};

class FfmpegMovieWriter : public MovieWriter,
                          public std::enable_shared_from_this<FfmpegMovieWriter> {
  public:
    FfmpegMovieWriter(std::string path, std::string preset, H264RateControl::Mode rateMode)
        : path_(std::move(path)), preset_(std::move(preset)), rateMode_(rateMode) {}
    ~FfmpegMovieWriter() override;

    const std::string& path() const override { return path_; }
    MovieWriterStatus status() const override {
        return static_cast<MovieWriterStatus>(status_.load());
    }
    std::string errorDescription() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return error_;
    }

    bool addInput(std::shared_ptr<MovieWriterInput> input) override;
    bool startWriting() override;
    void startSessionAtSourceTime(MediaTime time) override;
    void endSessionAtSourceTime(MediaTime time) override;
    void finishWriting(std::function<void()> handler) override;

    // Called through the input and the adaptor.
    bool readyForFrame() const;
    bool appendFrame(PixelBuffer& buffer, MediaTime time);
    bool appendFrame(const uint8_t* pixels, size_t bytesPerRow, int width, int height,
                     MediaTime time);
    bool appendPreviousFrame(MediaTime time);
    bool sessionStarted() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return sessionStarted_;
    }

  private:
    void fail(const std::string& reason);  // caller holds no lock
    bool openEncoder(int32_t timescale, std::string& reason);
    bool allocatePicture(int slot, std::string& reason);  // the slot's owner only
    // Appending thread: queues the picture in the slot at the time, to be encoded or, for an
    // unchanged screen, shown again.
    bool queuePicture(int slot, int64_t pts, bool repeat);
    void encoderMain();
    bool encodeFrame(AVFrame* frame);      // nullptr flushes; encoder thread only
    bool writeRepeat(int64_t pts);         // the muxer's owner; false when no copy can be written
    bool writeKeyFrameAgain(int64_t pts);  // encoder thread; false when it cannot be
    bool rewritePacket(AVPacket* packet);  // encoder thread only: frame numbers past the copies
    bool writePacket(AVPacket* packet);
    bool writePending(int64_t duration);
    void closeFile(bool writeTrailer);
    int64_t toEncoderTicks(MediaTime time) const;
    // Appending thread: whether a picture at pts must be a key frame (none yet, or a second or
    // more since the last one).
    bool keyFrameDue(int64_t pts) const;

    const std::string path_;
    const std::string preset_;
    const H264RateControl::Mode rateMode_;
    std::atomic<int> status_{static_cast<int>(MovieWriterStatus::Unknown)};

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::string error_;
    std::shared_ptr<FfmpegWriterInput> input_;
    bool sessionStarted_ = false;
    // Two pictures take turns: the appending thread converts a frame into one while the encoder
    // thread encodes the other, so conversion never waits for encoding. The input is ready while
    // no conversion runs and no frame waits to be taken. The appending thread writes only the
    // pixels of a picture that is neither queued nor being encoded; the encoder thread alone
    // sets a picture's time and type, just before encoding it, so that the picture being encoded
    // can be queued again (an unchanged screen) at a later time.
    bool busy_ = false;          // a frame is being converted
    bool frameQueued_ = false;   // a frame waits for the encoder thread
    int queuedSlot_ = 0;         // its picture,
    int64_t queuedPts_ = 0;      // its time
    bool queuedKey_ = false;     // whether it is to be a key frame,
    bool queuedRepeat_ = false;  // and whether it shows the previous picture again
    int encodingSlot_ = -1;      // the picture the encoder thread is encoding, -1 for none
    bool finishRequested_ = false;
    std::function<void()> finishHandler_;
    std::shared_ptr<FfmpegMovieWriter> keepAlive_;  // held from finishWriting to the handler
    std::thread encoderThread_;

    // Encoding state: set up by startSessionAtSourceTime before the encoder thread starts; the
    // frame is filled by the appending thread only while it owns busy_, everything else is used
    // by the encoder thread.
    AVFormatContext* format_ = nullptr;
    AVCodecContext* encoder_ = nullptr;
    AVStream* stream_ = nullptr;
    AVFrame* frames_[2] = {nullptr, nullptr};
    AVPacket* packet_ = nullptr;
    AVPacket* pending_ = nullptr;  // held back until the next packet (or the end) sets its length
    bool fileOpen_ = false;
    bool headerWritten_ = false;
    int displayWidth_ = 0, displayHeight_ = 0;
    int codedWidth_ = 0, codedHeight_ = 0;
    MediaTime sessionStart_;
    AVRational timeBase_{1, 1};
    // Appending thread only: the last frame's time (a picture shown again included), the last
    // key frame's, and the picture converted last (-1 before the first, or after a conversion
    // that failed half-way), which an unchanged screen shows again.
    int64_t lastPts_ = INT64_MIN;
    int64_t lastKeyPts_ = INT64_MIN;
    int lastSlot_ = -1;
    // Unchanged pictures are shown again by a copy written into the stream rather than encoded
    // (set before the encoder thread starts, constant after). A copy cannot be a key frame: when
    // one is due (a still screen, a second after the last), the last key frame is written again
    // if it shows the retained picture, else that picture is encoded again as one, so key frames
    // stay at most a second apart.
    bool repeatsWithoutEncoding_ = false;
    // The encoder thread's, or the appending thread's while that one waits idle (see
    // appendPreviousFrame); as are the muxer and the packets.
    H264PictureRepeater repeater_;
    std::vector<uint8_t> rewritten_;  // encoder thread: a picture with its frame numbers moved
    // Encoder thread: the last key frame the encoder made, and whether it has encoded anything
    // since. A still screen needs a key frame every second; while nothing was encoded after the
    // last one, the retained picture is that key frame's picture, and the same bytes decode to
    // the same picture: they are written again instead of encoding it again. Copies written in
    // between keep the two key frames from following each other directly (which would need
    // another picture id).
    std::vector<uint8_t> lastKeyFrame_;
    bool encodedSinceKeyFrame_ = true;
    int64_t endPts_ = INT64_MIN;  // guarded by mutex_
    // The movie's bit budget, set up with the encoder, then told of every picture encoded and of
    // every copy and key frame written again: used by the muxer's owner, as the repeater.
    std::optional<H264RateControl> rateControl_;
};

class FfmpegPixelBufferAdaptor : public PixelBufferAdaptor {
  public:
    explicit FfmpegPixelBufferAdaptor(std::shared_ptr<FfmpegWriterInput> input)
        : input_(std::move(input)) {}

    int createPixelBuffer(std::shared_ptr<PixelBuffer>& out) override {
        auto writer = input_->writer();
        // Like a platform pool, there is none until the writer is writing.
        if (!writer || writer->status() != MovieWriterStatus::Writing) return -6660;
        const auto& s = input_->outputSettings();
        if (s.width <= 0 || s.height <= 0) return -6661;
        out = std::make_shared<PixelBuffer>(s.width, s.height);
        return 0;
    }

    bool appendPixelBuffer(PixelBuffer& buffer, MediaTime presentationTime) override {
        if (input_->isFinished()) return false;
        auto writer = input_->writer();
        if (!writer) return false;
        return writer->appendFrame(buffer, presentationTime);
    }

    bool appendPixels(const uint8_t* pixels, size_t bytesPerRow, int width, int height,
                      MediaTime presentationTime) override {
        if (input_->isFinished()) return false;
        auto writer = input_->writer();
        if (!writer) return false;
        return writer->appendFrame(pixels, bytesPerRow, width, height, presentationTime);
    }

    bool appendPreviousPixelBuffer(MediaTime presentationTime) override {
        if (input_->isFinished()) return false;
        auto writer = input_->writer();
        if (!writer) return false;
        return writer->appendPreviousFrame(presentationTime);
    }

  private:
    std::shared_ptr<FfmpegWriterInput> input_;
};

bool FfmpegWriterInput::isReadyForMoreMediaData() const {
    if (finished_) return false;
    auto w = writer();
    return w && w->readyForFrame();
}

FfmpegMovieWriter::~FfmpegMovieWriter() {
    if (encoderThread_.joinable()) {
        // The finish handler may drop the last reference on the encoder thread itself: the
        // thread is then joined later (at the latest when the library closes).
        if (encoderThread_.get_id() == std::this_thread::get_id()) {
            BackgroundThreads::adopt(std::move(encoderThread_));
        } else {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                finishRequested_ = true;
                finishHandler_ = nullptr;
            }
            cv_.notify_all();
            encoderThread_.join();
        }
    }
    closeFile(false);
    av_packet_free(&pending_);
    av_packet_free(&packet_);
    av_frame_free(&frames_[0]);
    av_frame_free(&frames_[1]);
    avcodec_free_context(&encoder_);
    if (format_) avformat_free_context(format_);
}

void FfmpegMovieWriter::fail(const std::string& reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (error_.empty()) error_ = reason;
    int expected = static_cast<int>(MovieWriterStatus::Writing);
    status_.compare_exchange_strong(expected, static_cast<int>(MovieWriterStatus::Failed));
    expected = static_cast<int>(MovieWriterStatus::Unknown);
    status_.compare_exchange_strong(expected, static_cast<int>(MovieWriterStatus::Failed));
}

bool FfmpegMovieWriter::addInput(std::shared_ptr<MovieWriterInput> input) {
    auto ours = std::dynamic_pointer_cast<FfmpegWriterInput>(input);
    if (!ours || status() != MovieWriterStatus::Unknown) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (input_) return false;  // one video input per movie
        input_ = ours;
    }
    ours->attach(shared_from_this());
    return true;
}

bool FfmpegMovieWriter::startWriting() {
    if (status() != MovieWriterStatus::Unknown) {
        throw MovieWriterException(kInconsistency, "startWriting cannot be called when status is " +
                                                       std::to_string(status_.load()));
    }
    std::shared_ptr<FfmpegWriterInput> input;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        input = input_;
    }
    if (!input) {
        fail("the writer has no input");
        return false;
    }
    const auto& s = input->outputSettings();
    if (s.width <= 0 || s.height <= 0 || s.width > 16384 || s.height > 16384) {
        fail("invalid frame size " + std::to_string(s.width) + " x " + std::to_string(s.height));
        return false;
    }
    int rc = avformat_alloc_output_context2(&format_, nullptr, "mov", path_.c_str());
    if (rc < 0 || !format_) {
        fail("cannot create a QuickTime muxer: " + ffmpeg::errorText(rc));
        return false;
    }
    rc = avio_open(&format_->pb, path_.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) {
        fail("cannot open " + path_ + ": " + ffmpeg::errorText(rc));
        return false;
    }
    fileOpen_ = true;
    ::chmod(path_.c_str(), 0600);  // the movie shows the user's screen: owner only
    status_ = static_cast<int>(MovieWriterStatus::Writing);
    return true;
}

bool FfmpegMovieWriter::openEncoder(int32_t timescale, std::string& reason) {
    const auto& s = input_->outputSettings();
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!codec) {
        reason = "no H.264 encoder available";
        return false;
    }
    encoder_ = avcodec_alloc_context3(codec);
    if (!encoder_) {
        reason = "cannot allocate the encoder";
        return false;
    }
    displayWidth_ = s.width;
    displayHeight_ = s.height;
    // 4:2:0 needs even coded sizes; the extra row or column repeats the last one.
    codedWidth_ = (s.width + 1) & ~1;
    codedHeight_ = (s.height + 1) & ~1;
    encoder_->width = codedWidth_;
    encoder_->height = codedHeight_;
    encoder_->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder_->time_base = AVRational{1, timescale};
    timeBase_ = encoder_->time_base;
    // The nominal frame rate is the largest key-frame interval (one key frame a second at
    // most): the rate control's unit of time between two pictures.
    const double fps = s.maxKeyFrameInterval >= 1 ? s.maxKeyFrameInterval : 1.0;
    encoder_->framerate = av_d2q(fps, 1000);
    encoder_->gop_size = std::max(1, static_cast<int>(std::floor(fps)));
    encoder_->max_b_frames = 0;  // frames leave the encoder in order, at once
    encoder_->thread_count = 1;  // a few frames a second: one thread, least memory
    encoder_->color_range = AVCOL_RANGE_MPEG;
    encoder_->colorspace = AVCOL_SPC_SMPTE170M;
    encoder_->color_primaries = AVCOL_PRI_SMPTE170M;
    encoder_->color_trc = AVCOL_TRC_SMPTE170M;
    encoder_->sample_aspect_ratio = AVRational{1, 1};
    if (format_->oformat->flags & AVFMT_GLOBALHEADER) {
        encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    AVDictionary* options = nullptr;
    if (std::strcmp(codec->name, "libx264") == 0) {
        av_dict_set(&options, "preset", preset_.c_str(), 0);
        av_dict_set(&options, "tune", "zerolatency", 0);
        av_dict_set(&options, "forced-idr", "1", 0);
    }
    rateControl_.emplace(s.averageBitRate, 1.0 / fps, rateMode_);
    rateControl_->configure(*encoder_, &options);
    int rc = avcodec_open2(encoder_, codec, &options);
    av_dict_free(&options);
    if (rc < 0) {
        reason = "cannot open the H.264 encoder: " + ffmpeg::errorText(rc);
        return false;
    }
    stream_ = avformat_new_stream(format_, nullptr);
    if (!stream_) {
        reason = "cannot add the video track";
        return false;
    }
    stream_->time_base = encoder_->time_base;
    rc = avcodec_parameters_from_context(stream_->codecpar, encoder_);
    if (rc < 0) {
        reason = "cannot describe the video track: " + ffmpeg::errorText(rc);
        return false;
    }
    // The track declares the display size; the decoder's extra row or column lies outside it.
    stream_->codecpar->width = displayWidth_;
    stream_->codecpar->height = displayHeight_;
    stream_->sample_aspect_ratio = AVRational{1, 1};
    rc = avformat_write_header(format_, nullptr);
    if (rc < 0) {
        reason = "cannot write the movie header: " + ffmpeg::errorText(rc);
        return false;
    }
    headerWritten_ = true;

    // Only libx264's "ultrafast" streams take copies; the others encode their repeats.
    repeatsWithoutEncoding_ =
        std::strcmp(codec->name, "libx264") == 0 &&
        repeater_.configure(encoder_->extradata, static_cast<size_t>(encoder_->extradata_size));

    packet_ = av_packet_alloc();
    pending_ = av_packet_alloc();
    if (!packet_ || !pending_) {
        reason = "out of memory";
        return false;
    }
    // The second picture is made only when a frame comes while the first is being encoded:
    // at a few frames a second it never is.
    return allocatePicture(0, reason);
}

bool FfmpegMovieWriter::allocatePicture(int slot, std::string& reason) {
    if (frames_[slot]) return true;
    AVFrame* frame = av_frame_alloc();
    if (!frame) {
        reason = "out of memory";
        return false;
    }
    // Limited-range BT.601, which is what the conversion produces.
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = codedWidth_;
    frame->height = codedHeight_;
    frame->color_range = AVCOL_RANGE_MPEG;
    frame->colorspace = AVCOL_SPC_SMPTE170M;
    const int rc = av_frame_get_buffer(frame, 0);
    if (rc < 0) {
        av_frame_free(&frame);
        reason = "cannot allocate a frame: " + ffmpeg::errorText(rc);
        return false;
    }
    frames_[slot] = frame;
    return true;
}

void FfmpegMovieWriter::startSessionAtSourceTime(MediaTime time) {
    if (status() != MovieWriterStatus::Writing) {
        throw MovieWriterException(kInconsistency,
                                   "startSessionAtSourceTime requires a writing writer");
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (sessionStarted_) {
            throw MovieWriterException(kInconsistency, "the session has already started");
        }
    }
    if (!time.isValid()) {
        fail("invalid session start time");
        return;
    }
    std::string reason;
    if (!openEncoder(time.timescale, reason)) {
        fail(reason);
        return;
    }
    sessionStart_ = time;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sessionStarted_ = true;
    }
    encoderThread_ = std::thread([this] { encoderMain(); });
}

int64_t FfmpegMovieWriter::toEncoderTicks(MediaTime time) const {
    // Source time relative to the session start, in the encoder's time base.
    const AVRational from{1, time.timescale};
    const int64_t t = av_rescale_q(time.value, from, timeBase_);
    const int64_t start =
        av_rescale_q(sessionStart_.value, AVRational{1, sessionStart_.timescale}, timeBase_);
    return t - start;
}

void FfmpegMovieWriter::endSessionAtSourceTime(MediaTime time) {
    if (!sessionStarted()) {
        throw MovieWriterException(kInconsistency, "endSessionAtSourceTime before the session");
    }
    if (!time.isValid()) return;
    const int64_t ticks = toEncoderTicks(time);
    std::lock_guard<std::mutex> lock(mutex_);
    endPts_ = ticks;
}

bool FfmpegMovieWriter::readyForFrame() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_ == static_cast<int>(MovieWriterStatus::Writing) && sessionStarted_ && !busy_ &&
           !frameQueued_ && !finishRequested_;
}

bool FfmpegMovieWriter::appendFrame(PixelBuffer& buffer, MediaTime time) {
    buffer.lockBaseAddress();
    const bool ok = appendFrame(buffer.baseAddress(), buffer.bytesPerRow(), buffer.width(),
                                buffer.height(), time);
    buffer.unlockBaseAddress();
    return ok;
}

bool FfmpegMovieWriter::appendFrame(const uint8_t* pixels, size_t bytesPerRow, int width,
                                    int height, MediaTime time) {
    if (!time.isValid() || !pixels || bytesPerRow < static_cast<size_t>(width) * 4) return false;
    int slot = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (status_ != static_cast<int>(MovieWriterStatus::Writing) || !sessionStarted_ || busy_ ||
            frameQueued_ || finishRequested_) {
            return false;
        }
        if (width != displayWidth_ || height != displayHeight_) return false;
        // The picture the encoder thread is not encoding; none waits (frameQueued_).
        slot = encodingSlot_ == 0 ? 1 : 0;
        busy_ = true;  // the picture is ours until it is queued
    }
    const int64_t pts = toEncoderTicks(time);
    bool ok = pts > lastPts_;
    std::string reason;
    if (ok && !allocatePicture(slot, reason)) {
        ok = false;
        fail(reason);
    }
    if (ok) {
        AVFrame* frame = frames_[slot];
        if (lastSlot_ == slot) lastSlot_ = -1;  // overwritten from here on
        ok = av_frame_make_writable(frame) >= 0;
        if (ok) {
            // BGRA in memory is libyuv's "ARGB" (little-endian words); the result is
            // limited-range BT.601 4:2:0.
            const int rc = libyuv::ARGBToI420(pixels, static_cast<int>(bytesPerRow), frame->data[0],
                                              frame->linesize[0], frame->data[1],
                                              frame->linesize[1], frame->data[2],
                                              frame->linesize[2], displayWidth_, displayHeight_);
            ok = rc == 0;
        }
        if (ok) {
            // Repeat the last row and column into the padding that 4:2:0 needs (libyuv gives an
            // odd last row or column chroma of its own).
            if (codedHeight_ > displayHeight_) {
                std::memcpy(frame->data[0] + frame->linesize[0] * (codedHeight_ - 1),
                            frame->data[0] + frame->linesize[0] * (displayHeight_ - 1),
                            static_cast<size_t>(codedWidth_));
            }
            if (codedWidth_ > displayWidth_) {
                for (int y = 0; y < codedHeight_; ++y) {
                    uint8_t* row = frame->data[0] + frame->linesize[0] * y;
                    row[codedWidth_ - 1] = row[displayWidth_ - 1];
                }
            }
            lastSlot_ = slot;
        }
    }
    if (!ok) {
        std::lock_guard<std::mutex> lock(mutex_);
        busy_ = false;
        cv_.notify_all();  // finishing may wait for the conversion to end
        return false;
    }
    return queuePicture(slot, pts, false);
}

bool FfmpegMovieWriter::appendPreviousFrame(MediaTime time) {
    if (!time.isValid()) return false;
    bool here = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (status_ != static_cast<int>(MovieWriterStatus::Writing) || !sessionStarted_ || busy_ ||
            frameQueued_ || finishRequested_) {
            return false;
        }
        busy_ = true;
        // With nothing queued and nothing being encoded the encoder thread waits, and keeps
        // waiting while busy_ is set (even to finish): the copy can be written on this thread,
        // without waking that one.
        here = repeatsWithoutEncoding_ && encodingSlot_ < 0;
    }
    const int64_t pts = toEncoderTicks(time);
    bool ok = lastSlot_ >= 0 && pts > lastPts_;
    // A key frame is due: the picture goes to the encoder, to be encoded as one.
    if (ok && here && keyFrameDue(pts)) here = false;
    if (ok && here) {
        if (writeRepeat(pts)) {
            lastPts_ = pts;
        } else {
            here = false;  // the stream takes no more copies: the picture is encoded
        }
    }
    if (!ok || here) {
        std::lock_guard<std::mutex> lock(mutex_);
        busy_ = false;
        cv_.notify_all();
        return ok;
    }
    // The picture converted last, shown again at this time: the movie keeps a frame at every
    // time it was given one, without copying or converting anything (encoded when it is to be a
    // key frame or the stream takes no copies, else copied by the encoder thread). The encoder
    // thread may still be encoding that very picture; it only reads it.
    return queuePicture(lastSlot_, pts, true);
}

bool FfmpegMovieWriter::keyFrameDue(int64_t pts) const {
    const int64_t second = timeBase_.den / std::max(1, timeBase_.num);
    return lastKeyPts_ == INT64_MIN || pts - lastKeyPts_ >= second;
}

bool FfmpegMovieWriter::queuePicture(int slot, int64_t pts, bool repeat) {
    // At most one second between key frames, whatever frames were dropped, still screen or
    // not: a repeat that is due to be one is encoded (as a forced IDR picture) instead of copied.
    const bool key = keyFrameDue(pts);
    if (key) lastKeyPts_ = pts;
    lastPts_ = pts;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        busy_ = false;
        frameQueued_ = true;
        queuedSlot_ = slot;
        queuedPts_ = pts;
        queuedKey_ = key;
        queuedRepeat_ = repeat;
    }
    cv_.notify_all();
    return true;
}

bool FfmpegMovieWriter::writePending(int64_t duration) {
    if (pending_->size == 0 && pending_->data == nullptr) return true;
    pending_->duration = std::max<int64_t>(1, duration);
    pending_->stream_index = stream_->index;
    av_packet_rescale_ts(pending_, encoder_->time_base, stream_->time_base);
    const int rc = av_write_frame(format_, pending_);
    av_packet_unref(pending_);
    if (rc < 0) {
        fail("cannot write to the movie: " + ffmpeg::errorText(rc));
        return false;
    }
    return true;
}

bool FfmpegMovieWriter::writePacket(AVPacket* packet) {
    // No B-frames: decoding and presentation order agree, so the gap to the next packet is the
    // held-back packet's length.
    if (pending_->data != nullptr) {
        if (!writePending(packet->pts - pending_->pts)) {
            av_packet_unref(packet);
            return false;
        }
    }
    av_packet_move_ref(pending_, packet);
    return true;
}

bool FfmpegMovieWriter::encodeFrame(AVFrame* frame) {
    int rc = avcodec_send_frame(encoder_, frame);
    if (rc < 0 && rc != AVERROR_EOF) {
        fail("cannot encode a frame: " + ffmpeg::errorText(rc));
        return false;
    }
    for (;;) {
        rc = avcodec_receive_packet(encoder_, packet_);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
        if (rc < 0) {
            fail("cannot encode a frame: " + ffmpeg::errorText(rc));
            return false;
        }
        if (repeater_.configured() && !rewritePacket(packet_)) return false;
        if (repeatsWithoutEncoding_ && (packet_->flags & AV_PKT_FLAG_KEY)) {
            lastKeyFrame_.assign(packet_->data, packet_->data + packet_->size);
            encodedSinceKeyFrame_ = false;
        } else {
            encodedSinceKeyFrame_ = true;
        }
        if (!writePacket(packet_)) return false;
    }
}

bool FfmpegMovieWriter::rewritePacket(AVPacket* packet) {
    // The encoder's pictures count the copies written since its last key frame.
    const auto result =
        repeater_.rewrite(packet->data, static_cast<size_t>(packet->size), rewritten_);
    // Failed: written as it is, and no more copies are made.
    if (result != H264PictureRepeater::Rewrite::Rewritten) return true;
    int rc = av_packet_make_writable(packet);
    if (rc >= 0 && rewritten_.size() > static_cast<size_t>(packet->size)) {
        rc = av_grow_packet(packet, static_cast<int>(rewritten_.size()) - packet->size);
    } else if (rc >= 0) {
        av_shrink_packet(packet, static_cast<int>(rewritten_.size()));
    }
    if (rc < 0) {
        av_packet_unref(packet);
        fail("cannot write to the movie: " + ffmpeg::errorText(rc));
        return false;
    }
    std::memcpy(packet->data, rewritten_.data(), rewritten_.size());
    return true;
}

bool FfmpegMovieWriter::writeRepeat(int64_t pts) {
    const std::vector<uint8_t> bytes = repeater_.repeat();
    if (bytes.empty()) return false;
    if (av_new_packet(packet_, static_cast<int>(bytes.size())) < 0) return false;
    std::memcpy(packet_->data, bytes.data(), bytes.size());
    packet_->pts = pts;
    packet_->dts = pts;
    packet_->flags = 0;
    if (rateControl_) rateControl_->addBytesBeside(packet_->size);
    writePacket(packet_);  // a failure fails the writer
    return true;
}

bool FfmpegMovieWriter::writeKeyFrameAgain(int64_t pts) {
    if (!repeatsWithoutEncoding_ || encodedSinceKeyFrame_ || lastKeyFrame_.empty() ||
        repeater_.copiesSinceKeyFrame() == 0) {
        return false;
    }
    if (av_new_packet(packet_, static_cast<int>(lastKeyFrame_.size())) < 0) return false;
    std::memcpy(packet_->data, lastKeyFrame_.data(), lastKeyFrame_.size());
    packet_->pts = pts;
    packet_->dts = pts;
    packet_->flags = AV_PKT_FLAG_KEY;
    // The copies are counted from this key frame on.
    if (repeater_.rewrite(packet_->data, static_cast<size_t>(packet_->size), rewritten_) !=
        H264PictureRepeater::Rewrite::Unchanged) {
        av_packet_unref(packet_);
        return false;
    }
    if (rateControl_) rateControl_->addBytesBeside(packet_->size);
    writePacket(packet_);  // a failure fails the writer
    return true;
}

void FfmpegMovieWriter::closeFile(bool writeTrailer) {
    if (format_ && headerWritten_ && writeTrailer) {
        const int rc = av_write_trailer(format_);
        if (rc < 0) fail("cannot complete the movie: " + ffmpeg::errorText(rc));
    }
    headerWritten_ = false;
    if (format_ && fileOpen_) {
        avio_closep(&format_->pb);
        fileOpen_ = false;
    }
}

void FfmpegMovieWriter::encoderMain() {
    for (;;) {
        int slot = -1;
        int64_t pts = 0;
        bool key = false;
        bool repeat = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            cv_.wait(lock, [&] { return frameQueued_ || (finishRequested_ && !busy_); });
            if (!frameQueued_) break;
            // Taken: the input is ready for the next frame, converted into the other picture
            // while this one is encoded.
            slot = queuedSlot_;
            pts = queuedPts_;
            key = queuedKey_;
            repeat = queuedRepeat_;
            frameQueued_ = false;
            encodingSlot_ = slot;
        }
        // A picture shown again is copied, or when it is to be a key frame, written again as
        // the last key frame while that one showed it; else it is encoded.
        if (status() == MovieWriterStatus::Writing &&
            !(repeat && (key ? writeKeyFrameAgain(pts) : writeRepeat(pts)))) {
            AVFrame* frame = frames_[slot];
            frame->pts = pts;
            frame->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
            if (rateControl_) rateControl_->beforeEncoding(*encoder_, pts * av_q2d(timeBase_));
            encodeFrame(frame);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            encodingSlot_ = -1;
        }
    }

    // Finishing: drain the encoder, give the last frame the rest of the session, close.
    std::function<void()> handler;
    std::shared_ptr<FfmpegMovieWriter> keep;
    int64_t endPts;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handler = std::move(finishHandler_);
        keep = std::move(keepAlive_);
        endPts = endPts_;
    }
    bool ok = status() == MovieWriterStatus::Writing;
    if (ok) ok = encodeFrame(nullptr);
    if (ok && pending_->data != nullptr) {
        const int64_t last = pending_->pts;
        // Without an end time the last frame lasts one nominal frame.
        const int64_t nominal = av_rescale_q(1, av_inv_q(encoder_->framerate), encoder_->time_base);
        ok = writePending(endPts != INT64_MIN ? endPts - last : nominal);
    }
    closeFile(ok);
    if (status() == MovieWriterStatus::Writing && ok) {
        status_ = static_cast<int>(MovieWriterStatus::Completed);
    }
    if (handler) handler();
    handler = nullptr;
    // Dropping the last reference destroys the writer on this thread (its destructor then
    // detaches the thread); nothing touches the writer after this line.
    keep.reset();
}

void FfmpegMovieWriter::finishWriting(std::function<void()> handler) {
    const auto s = status();
    bool threadRunning = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (finishRequested_ ||
            (s != MovieWriterStatus::Writing && s != MovieWriterStatus::Failed)) {
            throw MovieWriterException(kInconsistency,
                                       "finishWriting cannot be called when status is " +
                                           std::to_string(int(s)) +
                                           (finishRequested_ ? " and finishing has begun" : ""));
        }
        finishRequested_ = true;
        finishHandler_ = std::move(handler);
        keepAlive_ = shared_from_this();
        threadRunning = encoderThread_.joinable();
    }
    if (threadRunning) {
        cv_.notify_all();
        return;
    }
    // The session never started (or set-up failed): close what is open on a thread of our
    // own, as the handler must not run on the caller's.
    if (!sessionStarted()) fail("the movie was finished before its session started");
    encoderThread_ = std::thread([this] {
        std::function<void()> h;
        std::shared_ptr<FfmpegMovieWriter> keep;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            h = std::move(finishHandler_);
            keep = std::move(keepAlive_);
        }
        closeFile(false);
        if (h) h();
        h = nullptr;
        keep.reset();
    });
}

}  // namespace

FfmpegMovieWriterFactory::FfmpegMovieWriterFactory(std::string x264Preset,
                                                   H264RateControl::Mode rateControl)
    : preset_(std::move(x264Preset)), rateControl_(rateControl) {
    ffmpeg::quietLogOnce();
}

std::shared_ptr<MovieWriter> FfmpegMovieWriterFactory::createWriter(const std::string& path,
                                                                    MovieFileType fileType,
                                                                    std::string* error) {
    if (fileType != MovieFileType::QuickTimeMovie) {
        if (error) *error = "unsupported file type";
        return nullptr;
    }
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (error) *error = "a file already exists at " + path;
        return nullptr;
    }
    return std::make_shared<FfmpegMovieWriter>(path, preset_, rateControl_);
}

std::shared_ptr<MovieWriterInput> FfmpegMovieWriterFactory::createVideoInput(
    const VideoOutputSettings& settings) {
    return std::make_shared<FfmpegWriterInput>(settings);
}

std::shared_ptr<PixelBufferAdaptor> FfmpegMovieWriterFactory::createPixelBufferAdaptor(
    std::shared_ptr<MovieWriterInput> input, PixelFormat sourceFormat) {
    auto ours = std::dynamic_pointer_cast<FfmpegWriterInput>(input);
    if (!ours || sourceFormat != PixelFormat::BGRA32) return nullptr;
    return std::make_shared<FfmpegPixelBufferAdaptor>(std::move(ours));
}

void FfmpegMovieWriterFactory::installDefaults() {
    Platform::current().setService<MovieWriterFactory>(
        std::make_shared<FfmpegMovieWriterFactory>());
    Platform::current().setService<MovieDurationReader>(std::make_shared<FfmpegMovieDuration>());
    FfmpegCaptureEncoderFactory::install();
}

}  // namespace rivlo
