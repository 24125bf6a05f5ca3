#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace rivlo {

// Shows the last picture of an H.264 stream again without encoding it, for a screen that did not
// change: a P picture whose macroblocks are all skipped (no residual, no motion) is an exact copy
// of its reference picture, a few bytes long.
//
// The copy is itself a reference picture, so the encoder's later pictures, which know nothing of
// it, must count it: the frame number of every slice the encoder writes after a copy is moved on
// by the copies written since its last IDR picture. That is only sound in the streams the movie
// writer's "ultrafast" encoder writes: CAVLC, one reference frame, picture order from frame
// numbers (type 2), progressive frames, no weighted prediction, one slice group, no redundant
// pictures. For any other stream configure() answers false and the caller encodes repeats.
//
// Annex B byte streams (start codes), as libavcodec's libx264 gives them. One thread at a time
// (the writer's encoder thread).
class H264PictureRepeater {
  public:
    // Reads the sequence and picture parameter sets from the encoder's global header (Annex B).
    // False when they are missing, malformed, or describe a stream this cannot repeat in.
    bool configure(const uint8_t* header, size_t size);
    bool configured() const { return configured_; }

    // An encoded picture (one access unit), with its slices' frame numbers counted past the
    // copies: Unchanged when no number moves (no copy since the last key frame, or a key frame),
    // Rewritten when `out` holds the picture to write instead, Failed when a slice cannot be
    // read; the stream then takes no more copies and repeat() refuses from then on.
    enum class Rewrite { Unchanged, Rewritten, Failed };
    Rewrite rewrite(const uint8_t* picture, size_t size, std::vector<uint8_t>& out);

    // The access unit that shows the previous picture again. Empty before the first picture
    // (nothing to copy) or when the stream cannot take copies.
    std::vector<uint8_t> repeat();

    // Copies written since the last key frame.
    int copiesSinceKeyFrame() const { return copiesSinceIdr_; }

  private:
    // A slice's frame number, and where it starts in the unescaped slice (bits).
    std::optional<uint32_t> frameNumber(const uint8_t* nal, size_t size, size_t* bitOffset) const;

    bool configured_ = false;
    bool broken_ = false;
    bool havePicture_ = false;
    int log2MaxFrameNum_ = 4;
    int ppsId_ = 0;
    int mbCount_ = 0;
    bool deblockingControl_ = false;
    bool overrideRefCount_ = false;  // the picture parameters name more than one reference
    int copiesSinceIdr_ = 0;         // frame numbers the encoder's pictures are moved on by
    int lastFrameNum_ = 0;           // the last reference picture's, as written
};

}  // namespace rivlo
