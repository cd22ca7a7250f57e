// The one symbol of the keyring module (nuvel-keyring.so), resolved on the program's first
// keyring call; libsecret comes in with it.
#include "Nuvel/platform/KeyringModule.hpp"
#include "Nuvel/platform/LibsecretBackend.hpp"

extern "C" __attribute__((visibility("default"))) nuvel::SecretBackend*
nuvel_keyring_backend(int interfaceVersion) {
    if (interfaceVersion != nuvel::keyringModuleInterface)
        return nullptr;
    static nuvel::LibsecretBackend keyring;
    return &keyring;
}
