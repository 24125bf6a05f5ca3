#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace rivlo::fuzz {

// Cuts a fuzzer's input into the pieces a target needs: bytes, numbers and texts whose length
// is given by the byte before them. Running out gives zeros and empty texts, so every input
// means something.
class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    double number() {
        uint8_t raw[sizeof(double)] = {};
        for (auto& b : raw)
            b = byte();
        double d;
        std::memcpy(&d, raw, sizeof d);
        return d;
    }
    // A text of up to 255 bytes (any bytes, not necessarily UTF-8).
    std::string text() {
        const size_t length = byte();
        const size_t left = at_ < size_ ? size_ - at_ : 0;
        const size_t n = length < left ? length : left;
        std::string out(reinterpret_cast<const char*>(data_) + at_, n);
        at_ += n;
        return out;
    }
    std::string rest() {
        if (at_ >= size_) return std::string();
        std::string out(reinterpret_cast<const char*>(data_ + at_), size_ - at_);
        at_ = size_;
        return out;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Log lines of the code under test are dropped: a fuzzer's output is its findings.
void silenceLog();

// A broken promise of the code under test: reported like a crash, so libFuzzer keeps the input
// and the replay fails.
[[noreturn]] inline void fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, file, line);
    std::abort();
}

}  // namespace rivlo::fuzz

#define FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : ::rivlo::fuzz::fail(#condition, __FILE__, __LINE__))
