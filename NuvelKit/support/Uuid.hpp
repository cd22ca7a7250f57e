#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

class Uuid {
public:
    Uuid() = default; // the nil UUID
    explicit Uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

    // A random (version 4) UUID.
    static Uuid random();
    // Accepts the canonical 8-4-4-4-12 form in either letter case; nullopt otherwise.
    static std::optional<Uuid> parse(std::string_view text);

    // Canonical 36-character upper-case form (file names, authenticated data, the store).
    std::string uppercase() const;
    // Lower-case form, where the service wants it.
    std::string lowercase() const;

    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }
    auto operator<=>(const Uuid&) const = default;

private:
    std::array<std::uint8_t, 16> bytes_{};
};

} // namespace nuvel

template <> struct std::hash<nuvel::Uuid> {
    std::size_t operator()(const nuvel::Uuid& u) const noexcept {
        std::size_t h = 0;
        for (auto b : u.bytes())
            h = h * 131 + b;
        return h;
    }
};
