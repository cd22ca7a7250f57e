#include "NuvelKit/support/Uuid.hpp"

#include "NuvelKit/support/Crypto.hpp"

namespace nuvel {
namespace {

std::string format(const std::array<std::uint8_t, 16>& b, const char* digits) {
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out.push_back('-');
        out.push_back(digits[b[i] >> 4]);
        out.push_back(digits[b[i] & 15]);
    }
    return out;
}

} // namespace

Uuid Uuid::random() {
    std::array<std::uint8_t, 16> b{};
    fillRandom(b.data(), b.size());
    b[6] = std::uint8_t((b[6] & 0x0f) | 0x40);
    b[8] = std::uint8_t((b[8] & 0x3f) | 0x80);
    return Uuid(b);
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36)
        return std::nullopt;
    std::array<std::uint8_t, 16> b{};
    std::size_t out = 0;
    for (std::size_t i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-')
                return std::nullopt;
            ++i;
            continue;
        }
        int hi = hexValue(text[i]), lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        b[out++] = std::uint8_t(hi << 4 | lo);
        i += 2;
    }
    return Uuid(b);
}

std::string Uuid::uppercase() const {
    return format(bytes_, "0123456789ABCDEF");
}
std::string Uuid::lowercase() const {
    return format(bytes_, "0123456789abcdef");
}

} // namespace nuvel
