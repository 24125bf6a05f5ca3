#include "platform/linux/H264RateControl.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
}

#include <algorithm>
#include <cmath>
#include <string>

namespace rivlo {

H264RateControl::H264RateControl(double bitRate, double frameSeconds, Mode mode)
    : bitRate_(std::isfinite(bitRate) ? std::max(1000.0, bitRate) : 1000.0),
      frameSeconds_(std::isfinite(frameSeconds) && frameSeconds > 0 ? frameSeconds : 1.0),
      mode_(mode) {}

void H264RateControl::configure(AVCodecContext& encoder, AVDictionary** options) const {
    encoder.bit_rate = static_cast<int64_t>(bitRate_);
    if (mode_ == Mode::AverageOnly) return;
    encoder.rc_max_rate = static_cast<int64_t>(bitRate_);
    encoder.rc_buffer_size = static_cast<int>(bitRate_ * kBufferSeconds);
    // One picture's worth to begin with: the first picture, and so the whole movie, takes no
    // more than the time it covers.
    encoder.rc_initial_buffer_occupancy =
        static_cast<int>(bitRate_ * std::min(frameSeconds_, kBufferSeconds));
    av_dict_set(options, "crf", std::to_string(kQuality).c_str(), 0);
}

void H264RateControl::beforeEncoding(AVCodecContext& encoder, double seconds) {
    if (mode_ == Mode::AverageOnly) return;
    // libx264 fills its buffer by the maximum rate over one nominal picture time after each
    // picture: the maximum rate of this picture carries what the time since the last picture
    // earned. A second's worth at most (the buffer's size; the rest would be lost anyway, and a
    // larger one would make libx264 enlarge its buffer), and never nothing (the encoder needs a
    // rate): what is lent then is owed by the next pictures.
    const double elapsed = lastSeconds_ < 0 ? frameSeconds_ : std::max(0.0, seconds - lastSeconds_);
    double earned = bitRate_ * elapsed - 8.0 * static_cast<double>(bytesBeside_) - owed_;
    const double least = bitRate_ * frameSeconds_ * 0.01;
    owed_ = earned < least ? least - earned : 0;
    earned = std::clamp(earned, least, bitRate_ * kBufferSeconds * 0.99);
    encoder.rc_max_rate = std::max<int64_t>(1000, static_cast<int64_t>(earned / frameSeconds_));
    lastSeconds_ = seconds;
    bytesBeside_ = 0;
}

}  // namespace rivlo
