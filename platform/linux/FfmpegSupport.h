#pragma once

// Small helpers the FFmpeg-based movie services share.

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <mutex>
#include <string>

namespace rivlo::ffmpeg {

// The text FFmpeg gives for one of its error codes.
inline std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof(text));
    return text;
}

// FFmpeg prints progress and capability lines at the information level; only errors matter
// here. The level is process-wide, so it is set once.
inline void quietLogOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
    });
}

}  // namespace rivlo::ffmpeg
