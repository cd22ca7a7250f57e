#include "Nuvel/platform/MediaModule.hpp"

#include "Nuvel/platform/ProgramModule.hpp"
#include "NuvelKit/capture/AudioMediaError.hpp"

#include <mutex>

namespace nuvel {

namespace {

struct Loaded {
    MediaCodecs* codecs = nullptr;
    std::string failure;
};

Loaded load() {
    ProgramModuleEntry entry = loadProgramModule("nuvel-media.so", "nuvel_media_codecs");
    if (entry.symbol == nullptr)
        return {nullptr, entry.failure};
    auto codecs = reinterpret_cast<MediaCodecs* (*)(int)>(entry.symbol)(MediaCodecs::interfaceVersion);
    if (codecs == nullptr)
        return {nullptr, "nuvel-media.so belongs to another build of the program"};
    return {codecs, {}};
}

} // namespace

MediaCodecs& moduleMediaCodecs() {
    static std::once_flag once;
    static Loaded loaded;
    std::call_once(once, [] { loaded = load(); });
    if (loaded.codecs == nullptr)
        throw MediaError(MediaError::Code::unavailable, "media codecs: " + loaded.failure);
    return *loaded.codecs;
}

} // namespace nuvel
