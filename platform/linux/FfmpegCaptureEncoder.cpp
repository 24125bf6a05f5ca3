#include "platform/linux/FfmpegCaptureEncoder.h"

#include "foundation/Log.h"
#include "platform/Platform.h"

#include "platform/linux/FfmpegSupport.h"
#include "platform/linux/H264RateControl.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

namespace rivlo {
namespace {

constexpr int kVideoTimescale = 1000;  // milliseconds

class FfmpegCaptureEncoder : public CaptureMovieEncoder {
  public:
    FfmpegCaptureEncoder(std::string path, const CaptureMovieSettings& settings)
        : path_(std::move(path)), settings_(settings) {}
    ~FfmpegCaptureEncoder() override { close(false); }

    bool open(std::string& reason);
    bool appendVideo(const PixelBuffer& frame, double seconds) override;
    bool appendAudio(const int16_t* samples, size_t frames, double seconds) override;
    bool finish(double endSeconds, std::string* error) override;

  private:
    bool openVideo(std::string& reason);
    bool openAudio(std::string& reason);
    bool encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame);  // null flushes
    bool encodeVideoAt(int64_t pts);
    bool encodeAudioFrame(int samples);
    void close(bool writeTrailer);

    const std::string path_;
    const CaptureMovieSettings settings_;

    std::mutex mutex_;
    bool failed_ = false;
    bool finished_ = false;
    std::string failure_;
    AVFormatContext* format_ = nullptr;
    bool fileOpen_ = false;
    bool headerWritten_ = false;
    AVCodecContext* video_ = nullptr;
    AVStream* videoStream_ = nullptr;
    AVFrame* videoFrame_ = nullptr;  // the last converted frame, encoded again at the end
    SwsContext* sws_ = nullptr;
    int64_t lastVideoPts_ = -1;
    int64_t frameDuration_ = 66;
    std::optional<H264RateControl> rateControl_;
    AVCodecContext* audio_ = nullptr;
    AVStream* audioStream_ = nullptr;
    AVFrame* audioFrame_ = nullptr;
    std::vector<std::vector<float>> pendingAudio_;  // per channel, not yet encoded
    int64_t audioPts_ = -1;                         // next sample's time in samples
    AVPacket* packet_ = nullptr;
};

bool FfmpegCaptureEncoder::open(std::string& reason) {
    if (settings_.width <= 0 || settings_.height <= 0 || settings_.width > 8192 ||
        settings_.height > 8192) {
        reason = "invalid frame size";
        return false;
    }
    int rc = avformat_alloc_output_context2(&format_, nullptr, "mov", path_.c_str());
    if (rc < 0 || !format_) {
        reason = "cannot create a QuickTime muxer: " + ffmpeg::errorText(rc);
        return false;
    }
    if (!openVideo(reason)) return false;
    if (settings_.hasAudio && !openAudio(reason)) return false;
    rc = avio_open(&format_->pb, path_.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) {
        reason = "cannot open " + path_ + ": " + ffmpeg::errorText(rc);
        return false;
    }
    fileOpen_ = true;
    ::chmod(path_.c_str(), 0600);  // the user's face and voice: owner only
    rc = avformat_write_header(format_, nullptr);
    if (rc < 0) {
        reason = "cannot write the movie header: " + ffmpeg::errorText(rc);
        return false;
    }
    headerWritten_ = true;
    packet_ = av_packet_alloc();
    if (!packet_) {
        reason = "out of memory";
        return false;
    }
    return true;
}

bool FfmpegCaptureEncoder::openVideo(std::string& reason) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!codec) {
        reason = "no H.264 encoder available";
        return false;
    }
    video_ = avcodec_alloc_context3(codec);
    if (!video_) {
        reason = "cannot allocate the video encoder";
        return false;
    }
    const double fps = settings_.frameRate > 0 ? settings_.frameRate : 15;
    frameDuration_ = std::max<int64_t>(1, std::llround(kVideoTimescale / fps));
    video_->width = (settings_.width + 1) & ~1;
    video_->height = (settings_.height + 1) & ~1;
    video_->pix_fmt = AV_PIX_FMT_YUV420P;
    video_->time_base = AVRational{1, kVideoTimescale};
    video_->framerate = av_d2q(fps, 1000);
    video_->gop_size = std::max(1, static_cast<int>(fps));
    video_->max_b_frames = 0;
    video_->thread_count = 1;
    video_->sample_aspect_ratio = AVRational{1, 1};
    if (format_->oformat->flags & AVFMT_GLOBALHEADER) video_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    if (std::strcmp(codec->name, "libx264") == 0) {
        av_dict_set(&options, "preset", "ultrafast", 0);
        av_dict_set(&options, "tune", "zerolatency", 0);
    }
    double bitRate = settings_.averageBitRate;
    if (!(std::isfinite(bitRate) && bitRate >= 1000 && bitRate <= 100e6)) {
        const double fallback =
            CaptureMovieSettings::videoBitRateForSize(settings_.width, settings_.height);
        if (bitRate != 0) {
            RVLog("Rivlo: Camera movie bit rate %g is out of range; using %g", bitRate, fallback);
        }
        bitRate = fallback;
    }
    rateControl_.emplace(bitRate, 1.0 / fps);
    rateControl_->configure(*video_, &options);
    int rc = avcodec_open2(video_, codec, &options);
    av_dict_free(&options);
    if (rc < 0) {
        reason = "cannot open the H.264 encoder: " + ffmpeg::errorText(rc);
        return false;
    }
    videoStream_ = avformat_new_stream(format_, nullptr);
    if (!videoStream_) {
        reason = "cannot add the video track";
        return false;
    }
    videoStream_->time_base = video_->time_base;
    rc = avcodec_parameters_from_context(videoStream_->codecpar, video_);
    if (rc < 0) {
        reason = "cannot describe the video track: " + ffmpeg::errorText(rc);
        return false;
    }
    videoStream_->codecpar->width = settings_.width;
    videoStream_->codecpar->height = settings_.height;
    // The camera's pictures are landscape; the track's matrix turns them upright for the way
    // the device was held. (The QuickTime muxer stores the matrix transposed: a portrait
    // recording reads back as a quarter turn clockwise.)
    double angle = 0;
    switch (settings_.videoOrientation) {
        case CaptureVideoOrientation::Portrait:
            angle = 90;
            break;
        case CaptureVideoOrientation::PortraitUpsideDown:
            angle = -90;
            break;
        case CaptureVideoOrientation::LandscapeLeft:
            angle = 180;
            break;
        default:
            break;
    }
    if (angle != 0) {
        auto* matrix = reinterpret_cast<int32_t*>(
            av_stream_new_side_data(videoStream_, AV_PKT_DATA_DISPLAYMATRIX, sizeof(int32_t) * 9));
        if (matrix) av_display_rotation_set(matrix, angle);
    }
    videoFrame_ = av_frame_alloc();
    if (!videoFrame_) {
        reason = "out of memory";
        return false;
    }
    videoFrame_->format = AV_PIX_FMT_YUV420P;
    videoFrame_->width = video_->width;
    videoFrame_->height = video_->height;
    if (av_frame_get_buffer(videoFrame_, 0) < 0) {
        reason = "out of memory";
        return false;
    }
    return true;
}

bool FfmpegCaptureEncoder::openAudio(std::string& reason) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) {
        reason = "no AAC encoder available";
        return false;
    }
    audio_ = avcodec_alloc_context3(codec);
    if (!audio_) {
        reason = "cannot allocate the audio encoder";
        return false;
    }
    const int channels = std::clamp(settings_.channels, 1, 2);
    audio_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    audio_->sample_rate = settings_.sampleRate > 0 ? settings_.sampleRate : 44100;
    av_channel_layout_default(&audio_->ch_layout, channels);
    audio_->bit_rate = 64000 * channels;
    audio_->time_base = AVRational{1, audio_->sample_rate};
    if (format_->oformat->flags & AVFMT_GLOBALHEADER) audio_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int rc = avcodec_open2(audio_, codec, nullptr);
    if (rc < 0) {
        reason = "cannot open the AAC encoder: " + ffmpeg::errorText(rc);
        return false;
    }
    audioStream_ = avformat_new_stream(format_, nullptr);
    if (!audioStream_) {
        reason = "cannot add the sound track";
        return false;
    }
    audioStream_->time_base = audio_->time_base;
    rc = avcodec_parameters_from_context(audioStream_->codecpar, audio_);
    if (rc < 0) {
        reason = "cannot describe the sound track: " + ffmpeg::errorText(rc);
        return false;
    }
    audioFrame_ = av_frame_alloc();
    if (!audioFrame_) {
        reason = "out of memory";
        return false;
    }
    pendingAudio_.assign(static_cast<size_t>(channels), {});
    return true;
}

bool FfmpegCaptureEncoder::encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame) {
    int rc = avcodec_send_frame(codec, frame);
    if (rc < 0 && !(frame == nullptr && rc == AVERROR_EOF)) {
        failure_ = "encoding failed: " + ffmpeg::errorText(rc);
        return false;
    }
    while (true) {
        rc = avcodec_receive_packet(codec, packet_);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
        if (rc < 0) {
            failure_ = "encoding failed: " + ffmpeg::errorText(rc);
            return false;
        }
        if (codec == video_ && packet_->duration <= 0) packet_->duration = frameDuration_;
        av_packet_rescale_ts(packet_, codec->time_base, stream->time_base);
        packet_->stream_index = stream->index;
        rc = av_interleaved_write_frame(format_, packet_);
        av_packet_unref(packet_);
        if (rc < 0) {
            failure_ = "cannot write to the movie: " + ffmpeg::errorText(rc);
            return false;
        }
    }
}

bool FfmpegCaptureEncoder::encodeVideoAt(int64_t pts) {
    rateControl_->beforeEncoding(*video_, static_cast<double>(pts) / kVideoTimescale);
    videoFrame_->pts = pts;
    lastVideoPts_ = pts;
    return encode(video_, videoStream_, videoFrame_);
}

bool FfmpegCaptureEncoder::appendVideo(const PixelBuffer& frame, double seconds) {
    std::lock_guard lock(mutex_);
    if (failed_ || finished_) return false;
    if (frame.width() != settings_.width || frame.height() != settings_.height) return false;
    int64_t pts = std::llround(std::max(0.0, seconds) * kVideoTimescale);
    if (pts <= lastVideoPts_) pts = lastVideoPts_ + 1;
    if (av_frame_make_writable(videoFrame_) < 0) return false;
    sws_ = sws_getCachedContext(sws_, frame.width(), frame.height(), AV_PIX_FMT_BGRA, video_->width,
                                video_->height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr,
                                nullptr);
    if (!sws_) {
        failed_ = true;
        failure_ = "cannot convert the frames";
        return false;
    }
    const uint8_t* src[1] = {frame.baseAddress()};
    const int srcStride[1] = {static_cast<int>(frame.bytesPerRow())};
    // The buffer is the source's own and is not written while it is being delivered.
    sws_scale(sws_, src, srcStride, 0, frame.height(), videoFrame_->data, videoFrame_->linesize);
    if (!encodeVideoAt(pts)) {
        failed_ = true;
        return false;
    }
    return true;
}

bool FfmpegCaptureEncoder::encodeAudioFrame(int samples) {
    if (av_frame_make_writable(audioFrame_) < 0) return false;
    for (size_t c = 0; c < pendingAudio_.size(); ++c) {
        auto* out = reinterpret_cast<float*>(audioFrame_->data[c]);
        std::copy_n(pendingAudio_[c].begin(), samples, out);
        std::fill(out + samples, out + audioFrame_->nb_samples, 0.0f);
        pendingAudio_[c].erase(pendingAudio_[c].begin(), pendingAudio_[c].begin() + samples);
    }
    audioFrame_->pts = audioPts_;
    audioPts_ += samples;
    return encode(audio_, audioStream_, audioFrame_);
}

bool FfmpegCaptureEncoder::appendAudio(const int16_t* samples, size_t frames, double seconds) {
    std::lock_guard lock(mutex_);
    if (failed_ || finished_ || !audio_ || !samples) return false;
    const size_t channels = pendingAudio_.size();
    if (audioPts_ < 0) {
        // The sound track begins where its first samples were taken; later blocks follow on.
        audioPts_ = std::llround(std::max(0.0, seconds) * audio_->sample_rate);
        audioFrame_->format = audio_->sample_fmt;
        audioFrame_->nb_samples = audio_->frame_size > 0 ? audio_->frame_size : 1024;
        av_channel_layout_copy(&audioFrame_->ch_layout, &audio_->ch_layout);
        audioFrame_->sample_rate = audio_->sample_rate;
        if (av_frame_get_buffer(audioFrame_, 0) < 0) {
            failed_ = true;
            failure_ = "out of memory";
            return false;
        }
    }
    for (size_t i = 0; i < frames; ++i) {
        for (size_t c = 0; c < channels; ++c) {
            pendingAudio_[c].push_back(static_cast<float>(samples[i * channels + c]) / 32768.0f);
        }
    }
    const int frameSize = audioFrame_->nb_samples;
    while (static_cast<int>(pendingAudio_[0].size()) >= frameSize) {
        if (!encodeAudioFrame(frameSize)) {
            failed_ = true;
            return false;
        }
    }
    return true;
}

bool FfmpegCaptureEncoder::finish(double endSeconds, std::string* error) {
    std::lock_guard lock(mutex_);
    auto fail = [&](const std::string& reason) {
        if (error) *error = reason;
        finished_ = true;
        close(false);
        return false;
    };
    if (finished_) return fail("the movie was finished already");
    if (failed_) return fail(failure_);
    if (lastVideoPts_ < 0) return fail("no video frame was captured");
    // The last picture stays on screen until the end of the recording.
    const int64_t endPts = std::llround(std::max(0.0, endSeconds) * kVideoTimescale);
    if (endPts - frameDuration_ > lastVideoPts_ && !encodeVideoAt(endPts - frameDuration_)) {
        return fail(failure_);
    }
    if (!encode(video_, videoStream_, nullptr)) return fail(failure_);
    if (audio_ && audioPts_ >= 0) {
        if (!pendingAudio_[0].empty()) {
            // The encoder takes a short last frame; pad it to a whole one when it does not.
            const int rest = static_cast<int>(pendingAudio_[0].size());
            if (!(audio_->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME)) {
                for (auto& channel : pendingAudio_)
                    channel.resize(static_cast<size_t>(audioFrame_->nb_samples), 0.0f);
                if (!encodeAudioFrame(audioFrame_->nb_samples)) return fail(failure_);
            } else {
                audioFrame_->nb_samples = rest;
                if (!encodeAudioFrame(rest)) return fail(failure_);
            }
        }
        if (!encode(audio_, audioStream_, nullptr)) return fail(failure_);
    }
    const int rc = av_write_trailer(format_);
    if (rc < 0) return fail("cannot write the movie index: " + ffmpeg::errorText(rc));
    finished_ = true;
    close(false);
    return true;
}

void FfmpegCaptureEncoder::close(bool writeTrailer) {
    if (format_ && headerWritten_ && writeTrailer) av_write_trailer(format_);
    if (format_ && fileOpen_) avio_closep(&format_->pb);
    fileOpen_ = false;
    headerWritten_ = false;
    if (format_) avformat_free_context(format_);
    format_ = nullptr;
    videoStream_ = audioStream_ = nullptr;
    if (video_) avcodec_free_context(&video_);
    if (audio_) avcodec_free_context(&audio_);
    if (videoFrame_) av_frame_free(&videoFrame_);
    if (audioFrame_) av_frame_free(&audioFrame_);
    if (packet_) av_packet_free(&packet_);
    if (sws_) sws_freeContext(sws_);
    sws_ = nullptr;
}

}  // namespace

std::shared_ptr<CaptureMovieEncoder> FfmpegCaptureEncoderFactory::createEncoder(
    const std::string& path, const CaptureMovieSettings& settings, std::string* error) {
    ffmpeg::quietLogOnce();
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (error) *error = "a file already exists at " + path;
        return nullptr;
    }
    auto encoder = std::make_shared<FfmpegCaptureEncoder>(path, settings);
    std::string reason;
    if (!encoder->open(reason)) {
        if (error) *error = reason;
        encoder.reset();
        ::unlink(path.c_str());
        return nullptr;
    }
    return encoder;
}

void FfmpegCaptureEncoderFactory::install() {
    Platform::current().setService<CaptureMovieEncoderFactory>(
        std::make_shared<FfmpegCaptureEncoderFactory>());
}

}  // namespace rivlo
