#include "CameraTestSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

#include <cmath>
#include <cstdlib>

namespace rivlo::test {
namespace {

struct Decoder {
    AVCodecContext* context = nullptr;
    ~Decoder() { avcodec_free_context(&context); }
    bool open(const AVStream* stream) {
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        if (!codec) return false;
        context = avcodec_alloc_context3(codec);
        return context && avcodec_parameters_to_context(context, stream->codecpar) >= 0 &&
               avcodec_open2(context, codec, nullptr) >= 0;
    }
};

double sampleAt(const AVFrame* frame, int channel, int i) {
    switch (frame->format) {
        case AV_SAMPLE_FMT_FLTP:
            return reinterpret_cast<const float*>(frame->data[channel])[i];
        case AV_SAMPLE_FMT_FLT:
            return reinterpret_cast<const float*>(
                frame->data[0])[i * frame->ch_layout.nb_channels + channel];
        case AV_SAMPLE_FMT_S16P:
            return reinterpret_cast<const int16_t*>(frame->data[channel])[i] / 32768.0;
        case AV_SAMPLE_FMT_S16:
            return reinterpret_cast<const int16_t*>(
                       frame->data[0])[i * frame->ch_layout.nb_channels + channel] /
                   32768.0;
        default:
            return 0;
    }
}

}  // namespace

AVMovieProbe AVMovieProbe::open(const std::string& path) {
    AVMovieProbe probe;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return probe;
    if (avformat_find_stream_info(format, nullptr) < 0) {
        avformat_close_input(&format);
        return probe;
    }
    probe.opened = true;
    if (format->duration > 0) probe.duration = format->duration / double(AV_TIME_BASE);
    const int video = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int audio = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    Decoder videoDecoder, audioDecoder;
    if (video >= 0) {
        const AVCodecParameters* p = format->streams[video]->codecpar;
        probe.hasVideo = true;
        probe.videoCodec = avcodec_get_name(p->codec_id);
        probe.width = p->width;
        probe.height = p->height;
        const uint8_t* matrix =
            av_stream_get_side_data(format->streams[video], AV_PKT_DATA_DISPLAYMATRIX, nullptr);
        if (matrix)
            probe.rotation = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
        videoDecoder.open(format->streams[video]);
    }
    if (audio >= 0) {
        const AVCodecParameters* p = format->streams[audio]->codecpar;
        probe.hasAudio = true;
        probe.audioCodec = avcodec_get_name(p->codec_id);
        probe.sampleRate = p->sample_rate;
        audioDecoder.open(format->streams[audio]);
    }

    std::vector<uint8_t> firstLuma, lastLuma;
    double squares = 0;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&](AVCodecContext* ctx, bool isVideo) {
        while (avcodec_receive_frame(ctx, frame) >= 0) {
            if (isVideo) {
                ++probe.videoFramesDecoded;
                std::vector<uint8_t> luma;
                for (int y = 0; y < frame->height; ++y) {
                    const uint8_t* row = frame->data[0] + y * frame->linesize[0];
                    luma.insert(luma.end(), row, row + frame->width);
                }
                if (firstLuma.empty()) firstLuma = luma;
                lastLuma = std::move(luma);
            } else {
                probe.audioSamplesDecoded += frame->nb_samples;
                for (int i = 0; i < frame->nb_samples; ++i) {
                    const double v = sampleAt(frame, 0, i);
                    squares += v * v;
                }
            }
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == video && videoDecoder.context) {
            avcodec_send_packet(videoDecoder.context, packet);
            drain(videoDecoder.context, true);
        } else if (packet->stream_index == audio && audioDecoder.context) {
            avcodec_send_packet(audioDecoder.context, packet);
            drain(audioDecoder.context, false);
        }
        av_packet_unref(packet);
    }
    if (videoDecoder.context) {
        avcodec_send_packet(videoDecoder.context, nullptr);
        drain(videoDecoder.context, true);
    }
    if (audioDecoder.context) {
        avcodec_send_packet(audioDecoder.context, nullptr);
        drain(audioDecoder.context, false);
    }
    if (probe.audioSamplesDecoded > 0)
        probe.audioRms = std::sqrt(squares / double(probe.audioSamplesDecoded));
    if (!firstLuma.empty() && firstLuma.size() == lastLuma.size()) {
        double sum = 0;
        for (size_t i = 0; i < firstLuma.size(); ++i)
            sum += std::abs(int(firstLuma[i]) - int(lastLuma[i]));
        probe.pictureChange = sum / double(firstLuma.size());
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&format);
    return probe;
}

}  // namespace rivlo::test
