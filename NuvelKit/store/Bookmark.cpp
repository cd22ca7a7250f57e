#include "NuvelKit/store/Bookmark.hpp"

#include "NuvelKit/store/StoreJson.hpp"

#include <cmath>

namespace nuvel {

Bookmark Bookmark::make(std::int64_t mediaMilliseconds, std::string label, Date createdAt) {
    return Bookmark{Uuid::random(), mediaMilliseconds < 0 ? 0 : mediaMilliseconds, createdAt,
                    std::move(label)};
}

std::int64_t Bookmark::wholeMilliseconds(double seconds) noexcept {
    double milliseconds = std::trunc(seconds * 1000.0);
    // 2^63 is the first double that no longer fits; NaN fails both comparisons.
    if (!(milliseconds > 0) || !(milliseconds < 9223372036854775808.0))
        return 0;
    return std::int64_t(milliseconds);
}

json::Ordered Bookmark::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["id"] = storejson::encode(id);
    o["mediaMilliseconds"] = mediaMilliseconds;
    o["createdAt"] = storejson::encode(createdAt);
    o["label"] = label;
    return o;
}

Bookmark Bookmark::fromJson(const json::Reader& r) {
    Bookmark b;
    b.id = storejson::uuid(r, "id");
    b.mediaMilliseconds = r.int64("mediaMilliseconds");
    b.createdAt = storejson::date(r, "createdAt");
    b.label = r.string("label");
    return b;
}

} // namespace nuvel
