#include "platform/linux/H264PictureRepeater.h"

#include <cstdint>
#include <optional>

namespace rivlo {
namespace {

// A NAL unit inside an Annex B byte stream: [begin, end) without start code or trailing zeros.
struct NalUnit {
    size_t begin = 0, end = 0;
};

// Where the payload after the first start code at or after `from` begins; kNoStartCode when
// there is none.
constexpr size_t kNoStartCode = SIZE_MAX;
size_t afterStartCode(const uint8_t* data, size_t size, size_t from) {
    for (size_t i = from; i + 3 <= size; ++i) {
        if (data[i + 2] > 1) {
            i += 2;  // no start code can begin at i, i + 1 or i + 2
        } else if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            return i + 3;
        }
    }
    return kNoStartCode;
}

std::vector<NalUnit> splitAnnexB(const uint8_t* data, size_t size) {
    std::vector<NalUnit> units;
    for (size_t begin = afterStartCode(data, size, 0); begin != kNoStartCode;) {
        const size_t next = afterStartCode(data, size, begin);
        size_t end = next == kNoStartCode ? size : next - 3;
        while (end > begin && data[end - 1] == 0)
            --end;  // the zero byte of a four-byte start code, trailing zeros
        if (end > begin) units.push_back({begin, end});
        begin = next;
    }
    return units;
}

// The payload of a NAL unit with its emulation prevention bytes removed (header byte included).
std::vector<uint8_t> toRbsp(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    out.reserve(size);
    int zeros = 0;
    for (size_t i = 0; i < size; ++i) {
        if (zeros >= 2 && data[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = data[i] == 0 ? zeros + 1 : 0;
        out.push_back(data[i]);
    }
    return out;
}

// Appends a start code and the NAL unit, emulation prevention bytes inserted.
void appendNal(std::vector<uint8_t>& out, const std::vector<uint8_t>& rbsp) {
    static const uint8_t kStartCode[] = {0, 0, 0, 1};
    out.insert(out.end(), kStartCode, kStartCode + 4);
    int zeros = 0;
    for (uint8_t byte : rbsp) {
        if (zeros >= 2 && byte <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        out.push_back(byte);
    }
}

class BitReader {
  public:
    BitReader(const uint8_t* bytes, size_t size, size_t bitOffset)
        : bytes_(bytes), size_(size), pos_(bitOffset) {}
    BitReader(const std::vector<uint8_t>& bytes, size_t bitOffset)
        : BitReader(bytes.data(), bytes.size(), bitOffset) {}

    size_t position() const { return pos_; }
    std::optional<uint32_t> bits(int n) {
        if (n < 0 || n > 32 || pos_ + static_cast<size_t>(n) > size_ * 8) return {};
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++pos_)
            v = (v << 1) | ((bytes_[pos_ / 8] >> (7 - pos_ % 8)) & 1u);
        return v;
    }
    std::optional<uint32_t> ue() {
        int leadingZeros = 0;
        for (;;) {
            auto bit = bits(1);
            if (!bit) return {};
            if (*bit) break;
            if (++leadingZeros > 31) return {};
        }
        auto rest = bits(leadingZeros);
        if (!rest) return {};
        return static_cast<uint32_t>((uint64_t{1} << leadingZeros) - 1 + *rest);
    }
    std::optional<int32_t> se() {
        auto k = ue();
        if (!k) return {};
        return (*k & 1) ? static_cast<int32_t>((*k + 1) / 2) : -static_cast<int32_t>(*k / 2);
    }

  private:
    const uint8_t* bytes_;
    size_t size_;
    size_t pos_;
};

class BitWriter {
  public:
    void bits(uint32_t value, int n) {
        for (int i = n - 1; i >= 0; --i)
            bit((value >> i) & 1u);
    }
    void ue(uint32_t value) {
        const uint64_t v = uint64_t{value} + 1;
        int length = 0;
        while ((v >> length) > 1)
            ++length;
        bits(0, length);
        bits(static_cast<uint32_t>(v), length + 1);
    }
    // rbsp_trailing_bits: a one, then zeros to the byte boundary.
    std::vector<uint8_t> finish() {
        bit(1);
        while (count_ % 8 != 0)
            bit(0);
        return bytes_;
    }

  private:
    void bit(uint32_t b) {
        if (count_ % 8 == 0) bytes_.push_back(0);
        if (b) bytes_.back() |= static_cast<uint8_t>(0x80u >> (count_ % 8));
        ++count_;
    }
    std::vector<uint8_t> bytes_;
    size_t count_ = 0;
};

bool isHighProfile(uint32_t profile) {
    switch (profile) {
        case 100:
        case 110:
        case 122:
        case 244:
        case 44:
        case 83:
        case 86:
        case 118:
        case 128:
        case 138:
        case 139:
        case 134:
        case 135:
            return true;
        default:
            return false;
    }
}

}  // namespace

bool H264PictureRepeater::configure(const uint8_t* header, size_t size) {
    configured_ = false;
    if (!header || size == 0) return false;
    int spsCount = 0, ppsCount = 0;
    bool ok = true;
    for (const NalUnit& nal : splitAnnexB(header, size)) {
        const std::vector<uint8_t> rbsp = toRbsp(header + nal.begin, nal.end - nal.begin);
        const int type = rbsp[0] & 0x1f;
        BitReader r(rbsp, 8);
        if (type == 7) {
            ++spsCount;
            auto profile = r.bits(8);
            ok = ok && profile && r.bits(16) && r.ue();  // constraints, level, id
            if (ok && isHighProfile(*profile)) {
                auto chroma = r.ue();
                ok = chroma && *chroma == 1 && r.ue() && r.ue() && r.bits(1);
                auto scaling = ok ? r.bits(1) : std::nullopt;
                ok = ok && scaling && *scaling == 0;
            }
            auto log2Frames = ok ? r.ue() : std::nullopt;
            auto pocType = log2Frames ? r.ue() : std::nullopt;
            auto refFrames = pocType ? r.ue() : std::nullopt;
            auto gaps = refFrames ? r.bits(1) : std::nullopt;
            auto widthMbs = gaps ? r.ue() : std::nullopt;
            auto heightUnits = widthMbs ? r.ue() : std::nullopt;
            auto framesOnly = heightUnits ? r.bits(1) : std::nullopt;
            ok = ok && framesOnly && *log2Frames <= 12 && *pocType == 2 && *refFrames == 1 &&
                 *gaps == 0 && *framesOnly == 1 && *widthMbs < 1024 && *heightUnits < 1024;
            if (ok) {
                log2MaxFrameNum_ = static_cast<int>(*log2Frames) + 4;
                mbCount_ = static_cast<int>((*widthMbs + 1) * (*heightUnits + 1));
            }
        } else if (type == 8) {
            ++ppsCount;
            auto ppsId = r.ue();
            auto entropy = ppsId && r.ue() ? r.bits(1) : std::nullopt;
            auto fieldOrder = entropy ? r.bits(1) : std::nullopt;
            auto sliceGroups = fieldOrder ? r.ue() : std::nullopt;
            auto refsL0 = sliceGroups ? r.ue() : std::nullopt;
            auto weighted = refsL0 && r.ue() ? r.bits(1) : std::nullopt;
            const bool qp = weighted && r.bits(2) && r.se() && r.se() && r.se();
            auto deblocking = qp ? r.bits(1) : std::nullopt;
            auto redundant = deblocking && r.bits(1) ? r.bits(1) : std::nullopt;
            ok = ok && redundant && *entropy == 0 && *sliceGroups == 0 && *weighted == 0 &&
                 *redundant == 0 && *ppsId < 256;
            if (ok) {
                ppsId_ = static_cast<int>(*ppsId);
                overrideRefCount_ = *refsL0 != 0;
                deblockingControl_ = *deblocking != 0;
            }
        }
    }
    configured_ = ok && spsCount == 1 && ppsCount == 1 && mbCount_ > 0;
    broken_ = false;
    havePicture_ = false;
    copiesSinceIdr_ = 0;
    lastFrameNum_ = 0;
    return configured_;
}

std::optional<uint32_t> H264PictureRepeater::frameNumber(const uint8_t* nal, size_t size,
                                                         size_t* bitOffset) const {
    // The slice header's first fields lie in the first few bytes: unescape only those.
    uint8_t head[32];
    size_t n = 0;
    int zeros = 0;
    for (size_t i = 0; i < size && n < sizeof head; ++i) {
        if (zeros >= 2 && nal[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = nal[i] == 0 ? zeros + 1 : 0;
        head[n++] = nal[i];
    }
    BitReader r(head, n, 8);
    if (!(r.ue() && r.ue() && r.ue())) return {};  // first_mb_in_slice, slice_type, pps id
    if (bitOffset) *bitOffset = r.position();
    return r.bits(log2MaxFrameNum_);
}

H264PictureRepeater::Rewrite H264PictureRepeater::rewrite(const uint8_t* picture, size_t size,
                                                          std::vector<uint8_t>& out) {
    if (!configured_ || broken_) return Rewrite::Failed;
    const uint32_t maxFrameNum = 1u << log2MaxFrameNum_;
    // First the frame number, from the picture's first slice (every slice of a picture has the
    // same type, reference mark and frame number): a key frame starts counting again, without
    // copies. Without copies since the last key frame nothing moves, and the rest of the
    // picture is not read.
    bool moves = false;
    for (size_t at = afterStartCode(picture, size, 0); at < size;
         at = afterStartCode(picture, size, at)) {
        const uint8_t header = picture[at];
        const int type = header & 0x1f;
        if (type == 5) {
            copiesSinceIdr_ = 0;
            lastFrameNum_ = 0;
            havePicture_ = true;
            break;
        }
        if (type == 1) {
            auto frameNum = frameNumber(picture + at, size - at, nullptr);
            if (!frameNum) {
                broken_ = true;
                return Rewrite::Failed;
            }
            const uint32_t moved =
                (*frameNum + static_cast<uint32_t>(copiesSinceIdr_)) % maxFrameNum;
            moves = moved != *frameNum;
            if (header & 0x60) lastFrameNum_ = static_cast<int>(moved);
            havePicture_ = true;
            break;
        }
    }
    if (!moves) return Rewrite::Unchanged;
    const std::vector<NalUnit> units = splitAnnexB(picture, size);
    // Then the slices again, each with its frame number moved on by the copies.
    out.clear();
    out.reserve(size + 16);
    for (const NalUnit& nal : units) {
        std::vector<uint8_t> rbsp = toRbsp(picture + nal.begin, nal.end - nal.begin);
        if ((rbsp[0] & 0x1f) == 1) {
            size_t at = 0;
            const auto frameNum = frameNumber(picture + nal.begin, nal.end - nal.begin, &at);
            if (!frameNum) {
                broken_ = true;
                return Rewrite::Failed;
            }
            const uint32_t moved =
                (*frameNum + static_cast<uint32_t>(copiesSinceIdr_)) % maxFrameNum;
            for (int i = 0; i < log2MaxFrameNum_; ++i) {
                const size_t bit = at + static_cast<size_t>(i);
                const uint8_t mask = static_cast<uint8_t>(0x80u >> (bit % 8));
                if ((moved >> (log2MaxFrameNum_ - 1 - i)) & 1u) {
                    rbsp[bit / 8] |= mask;
                } else {
                    rbsp[bit / 8] &= static_cast<uint8_t>(~mask);
                }
            }
        }
        appendNal(out, rbsp);
    }
    return Rewrite::Rewritten;
}

std::vector<uint8_t> H264PictureRepeater::repeat() {
    if (!configured_ || broken_ || !havePicture_) return {};
    const uint32_t maxFrameNum = 1u << log2MaxFrameNum_;
    const uint32_t frameNum = (static_cast<uint32_t>(lastFrameNum_) + 1) % maxFrameNum;
    BitWriter w;
    w.bits(0x41, 8);  // forbidden bit, nal_ref_idc 2 (a reference picture), coded slice (1)
    w.ue(0);          // first_mb_in_slice
    w.ue(5);          // slice_type: P, as every slice of the picture
    w.ue(static_cast<uint32_t>(ppsId_));
    w.bits(frameNum, log2MaxFrameNum_);
    // No field flags (frames only), no IDR id, no picture order count (type 2).
    if (overrideRefCount_) {
        w.bits(1, 1);  // num_ref_idx_active_override_flag
        w.ue(0);       // one reference: the previous picture
    } else {
        w.bits(0, 1);
    }
    w.bits(0, 1);                     // ref_pic_list_modification_flag_l0
    w.bits(0, 1);                     // adaptive_ref_pic_marking_mode_flag: the sliding window
    w.ue(0);                          // slice_qp_delta (se 0)
    if (deblockingControl_) w.ue(1);  // disable_deblocking_filter_idc: a copy needs no filter
    w.ue(static_cast<uint32_t>(mbCount_));  // mb_skip_run: every macroblock skipped
    std::vector<uint8_t> out;
    appendNal(out, w.finish());
    copiesSinceIdr_ = static_cast<int>((static_cast<uint32_t>(copiesSinceIdr_) + 1) % maxFrameNum);
    lastFrameNum_ = static_cast<int>(frameNum);
    return out;
}

}  // namespace rivlo
