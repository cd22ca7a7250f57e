#pragma once

// Small helpers shared by the fuzz targets.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace nuvel::fuzz {

// A broken property: told on stderr, then the process aborts so libFuzzer keeps the input.
[[noreturn]] inline void finding(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "finding: %s\n%.*s\n", what, int(std::min<std::size_t>(detail.size(), 4096)),
                 detail.data());
    std::abort();
}

// Takes the fuzz input apart: small numbers from the front, the rest as bytes.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    // A byte from the front (0 once the input is used up).
    std::uint8_t byte() {
        if (size_ == 0)
            return 0;
        --size_;
        return *data_++;
    }
    // Two bytes from the front, big-endian.
    std::size_t number() { return std::size_t(byte()) << 8 | byte(); }
    // Up to `count` bytes from the front.
    std::string_view take(std::size_t count) {
        count = std::min(count, size_);
        std::string_view out(reinterpret_cast<const char*>(data_), count);
        data_ += count;
        size_ -= count;
        return out;
    }
    std::string_view rest() { return take(size_); }
    bool empty() const { return size_ == 0; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

} // namespace nuvel::fuzz
