#include "platform/linux/FfmpegMovieDuration.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <mutex>

namespace rivlo {

FfmpegMovieDuration::FfmpegMovieDuration() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
    });
}

std::optional<MediaTime> FfmpegMovieDuration::duration(const std::string& path) {
    if (path.empty()) return std::nullopt;
    // Only movie containers count: a text file must not be probed into some raw format.
    const AVInputFormat* mov = av_find_input_format("mov");
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), mov, nullptr) < 0) return std::nullopt;
    std::optional<MediaTime> result;
    if (format->nb_streams > 0 && format->duration != AV_NOPTS_VALUE && format->duration >= 0) {
        result = MediaTime{format->duration, AV_TIME_BASE};
    }
    avformat_close_input(&format);
    return result;
}

}  // namespace rivlo
