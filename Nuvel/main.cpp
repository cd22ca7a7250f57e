#include "Nuvel/platform/MediaModule.hpp"
#include "Nuvel/ui/shell/AppDelegate.hpp"

int main(int argc, char** argv) {
    // FFmpeg comes in with the media module, when audio is first decoded or encoded.
    nuvel::setMediaCodecsProvider(&nuvel::moduleMediaCodecs);
    return nuvel::AppDelegate::main(argc, argv);
}
