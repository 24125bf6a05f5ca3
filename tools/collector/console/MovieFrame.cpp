#include "MovieFrame.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <memory>

namespace rivlo::collector {

namespace {

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

MoviePicture toRgb(const AVFrame* frame, double seconds) {
    MoviePicture picture;
    picture.width = frame->width;
    picture.height = frame->height;
    picture.seconds = seconds;
    picture.rgb.resize(static_cast<size_t>(frame->width) * frame->height * 3);
    SwsContext* sws = sws_getContext(
        frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
        frame->height, AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr, nullptr);
    if (!sws) return {};
    uint8_t* dst[1] = {picture.rgb.data()};
    const int dstStride[1] = {frame->width * 3};
    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
    sws_freeContext(sws);
    return picture;
}

}  // namespace

std::optional<MoviePicture> MovieFrame::at(const std::string& path, double seconds,
                                           std::string& error) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
        error = "cannot open the movie " + path;
        return std::nullopt;
    }
    std::unique_ptr<AVFormatContext, FormatCloser> format(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) {
        error = "cannot read the movie " + path;
        return std::nullopt;
    }
    const int stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0) {
        error = "no video in " + path;
        return std::nullopt;
    }
    AVStream* video = format->streams[stream];
    const AVCodec* codec = avcodec_find_decoder(video->codecpar->codec_id);
    std::unique_ptr<AVCodecContext, CodecFreer> decoder(avcodec_alloc_context3(codec));
    if (!codec || !decoder || avcodec_parameters_to_context(decoder.get(), video->codecpar) < 0 ||
        avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        error = "cannot decode the video of " + path;
        return std::nullopt;
    }
    const double base = av_q2d(video->time_base);
    const int64_t target = static_cast<int64_t>(std::floor(std::max(0.0, seconds) / base));
    av_seek_frame(format.get(), stream, target, AVSEEK_FLAG_BACKWARD);

    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    std::optional<MoviePicture> last;
    // Pictures in presentation order up to the moment; the last one not after it is shown.
    auto drain = [&]() -> bool {
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            const int64_t pts = frame->best_effort_timestamp;
            const double at = pts == AV_NOPTS_VALUE ? 0 : static_cast<double>(pts) * base;
            if (last && at > seconds + 1e-6) return true;
            last = toRgb(frame.get(), at);
            if (at > seconds + 1e-6) return true;  // the movie begins after the moment
        }
        return false;
    };
    bool done = false;
    while (!done && av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream && avcodec_send_packet(decoder.get(), packet.get()) >= 0)
            done = drain();
        av_packet_unref(packet.get());
    }
    if (!done) {
        avcodec_send_packet(decoder.get(), nullptr);
        drain();
    }
    if (!last || last->rgb.empty()) {
        error = "no picture could be decoded from " + path;
        return std::nullopt;
    }
    return last;
}

}  // namespace rivlo::collector
