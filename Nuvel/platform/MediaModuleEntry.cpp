// The one symbol of the media module (nuvel-media.so): the program resolves it on first use of
// the codecs. Everything else the module carries stays private to it.
#include "NuvelKit/capture/FfmpegMediaCodecs.hpp"

extern "C" __attribute__((visibility("default"))) nuvel::MediaCodecs*
nuvel_media_codecs(int interfaceVersion) {
    if (interfaceVersion != nuvel::MediaCodecs::interfaceVersion)
        return nullptr;
    // The module's own audio-file classes (the exporter decodes its sources through them).
    nuvel::useLinkedMediaCodecs();
    return &nuvel::linkedMediaCodecs();
}
