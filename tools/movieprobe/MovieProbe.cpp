#include "movieprobe/MovieProbe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <functional>
#include <string_view>

namespace rivlo::media {

DecodedFrame::RGB DecodedFrame::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return {};
    const size_t i = (static_cast<size_t>(y) * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

namespace {

void convert(const AVFrame* frame, double seconds, std::vector<DecodedFrame>& out) {
    DecodedFrame d;
    d.seconds = seconds;
    d.keyFrame = frame->key_frame != 0;
    d.width = frame->width;
    d.height = frame->height;
    d.rgb.resize(static_cast<size_t>(d.width) * d.height * 3);
    SwsContext* sws =
        sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                       d.width, d.height, AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr, nullptr);
    if (!sws) return;
    uint8_t* dst[1] = {d.rgb.data()};
    const int dstStride[1] = {d.width * 3};
    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
    sws_freeContext(sws);
    out.push_back(std::move(d));
}

}  // namespace

double MovieProbe::bitsPerSecond() const {
    return duration > 0 ? static_cast<double>(fileBytes) * 8 / duration : 0;
}

double MovieProbe::mostBitsPerSecondOver(double seconds) const {
    std::vector<MoviePacket> sorted = packets;
    std::sort(sorted.begin(), sorted.end(),
              [](const MoviePacket& a, const MoviePacket& b) { return a.seconds < b.seconds; });
    int64_t total = 0;
    for (const auto& p : sorted)
        total += p.bytes;
    if (duration <= seconds || seconds <= 0) {
        return duration > 0 ? static_cast<double>(total) * 8 / duration : 0;
    }
    // Every stretch that begins at a packet: [its time, its time + seconds).
    int64_t most = 0, inside = 0;
    size_t end = 0;
    for (size_t begin = 0; begin < sorted.size(); ++begin) {
        while (end < sorted.size() && sorted[end].seconds < sorted[begin].seconds + seconds) {
            inside += sorted[end++].bytes;
        }
        most = std::max(most, inside);
        inside -= sorted[begin].bytes;
    }
    return static_cast<double>(most) * 8 / seconds;
}

namespace {

// Opens the movie, reads its packets and hands every decoded picture of the video track to
// `picture` (with its time in seconds) when one is given.
MovieProbe probeMovie(const std::string& path,
                      const std::function<void(const AVFrame*, double, MovieProbe&)>& picture) {
    MovieProbe probe;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return probe;
    if (avformat_find_stream_info(format, nullptr) < 0) {
        avformat_close_input(&format);
        return probe;
    }
    probe.opened = true;
    probe.formatName = format->iformat->name;
    if (auto* brand = av_dict_get(format->metadata, "major_brand", nullptr, 0)) {
        probe.majorBrand = brand->value;
    }
    if (format->duration != AV_NOPTS_VALUE) {
        probe.duration = static_cast<double>(format->duration) / AV_TIME_BASE;
    }
    if (format->pb) probe.fileBytes = std::max<int64_t>(0, avio_size(format->pb));
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        avformat_close_input(&format);
        return probe;
    }
    AVStream* stream = format->streams[index];
    probe.codecName = avcodec_get_name(stream->codecpar->codec_id);
    probe.width = stream->codecpar->width;
    probe.height = stream->codecpar->height;

    const AVCodec* codec = picture ? avcodec_find_decoder(stream->codecpar->codec_id) : nullptr;
    AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (ctx && (avcodec_parameters_to_context(ctx, stream->codecpar) < 0 ||
                avcodec_open2(ctx, codec, nullptr) < 0)) {
        avcodec_free_context(&ctx);
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const double tb = av_q2d(stream->time_base);
    auto drain = [&] {
        while (ctx && avcodec_receive_frame(ctx, frame) >= 0) {
            if (frame->decode_error_flags != 0) ++probe.decodeErrors;
            const int64_t ts = frame->best_effort_timestamp;
            picture(frame, ts == AV_NOPTS_VALUE ? -1 : ts * tb, probe);
            av_frame_unref(frame);
        }
    };
    while (packet && frame && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == index) {
            const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            if (packet->pts != AV_NOPTS_VALUE) {
                probe.packets.push_back({packet->pts * tb, packet->size, key});
            }
            if (key && packet->pts != AV_NOPTS_VALUE) {
                probe.keyPacketSeconds.push_back(packet->pts * tb);
                probe.keyPacketDigests.push_back(std::hash<std::string_view>{}(
                    std::string_view(reinterpret_cast<const char*>(packet->data),
                                     static_cast<size_t>(packet->size))));
            }
            if (ctx && avcodec_send_packet(ctx, packet) < 0) ++probe.decodeErrors;
            drain();
        }
        av_packet_unref(packet);
    }
    if (ctx) {
        avcodec_send_packet(ctx, nullptr);
        drain();
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    avformat_close_input(&format);
    return probe;
}

}  // namespace

MovieProbe MovieProbe::open(const std::string& path, bool decode) {
    if (!decode) return probeMovie(path, nullptr);
    return probeMovie(path, [](const AVFrame* frame, double seconds, MovieProbe& probe) {
        convert(frame, seconds, probe.frames);
    });
}

MovieProbe MovieProbe::open(const std::string& path,
                            const std::function<void(const PicturePlanes&)>& visit) {
    return probeMovie(path, [&visit](const AVFrame* frame, double seconds, MovieProbe& probe) {
        if (frame->format != AV_PIX_FMT_YUV420P && frame->format != AV_PIX_FMT_YUVJ420P) {
            ++probe.decodeErrors;
            return;
        }
        PicturePlanes planes;
        planes.seconds = seconds;
        planes.keyFrame = frame->key_frame != 0;
        planes.width = frame->width;
        planes.height = frame->height;
        for (int i = 0; i < 3; ++i) {
            planes.data[i] = frame->data[i];
            planes.stride[i] = frame->linesize[i];
        }
        visit(planes);
    });
}

}  // namespace rivlo::media
