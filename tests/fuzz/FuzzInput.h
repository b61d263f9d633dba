// Splits a fuzzer's bytes into the pieces a target needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    // Up to the next NUL byte (or the end) as 8-bit text.
    std::string text() {
        std::string out;
        while (at_ < size_ && data_[at_] != 0) out.push_back(static_cast<char>(data_[at_++]));
        if (at_ < size_) ++at_;
        return out;
    }
    // The rest as 16-bit little-endian characters, the way the library's text arrives.
    std::wstring wideRest() {
        std::wstring out;
        for (; at_ + 1 < size_; at_ += 2) out.push_back(static_cast<wchar_t>(data_[at_] | (data_[at_ + 1] << 8)));
        at_ = size_;
        return out;
    }
    std::string rest() {
        std::string out(reinterpret_cast<const char*>(data_ + at_), size_ - at_);
        at_ = size_;
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};
