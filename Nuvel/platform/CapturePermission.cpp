#include "Nuvel/platform/CapturePermission.hpp"

namespace nuvel {

Task<bool> CapturePermission::requestMicrophoneAccess() {
    co_return true;
}

} // namespace nuvel
