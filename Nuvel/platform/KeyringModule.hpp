#pragma once

#include "NuvelKit/store/SecretBackend.hpp"

#include <memory>

namespace nuvel {

// The program's keyring: the desktop keyring through the keyring module beside the executable
// (nuvel-keyring.so, libsecret), loaded on the first keyring call, with the owner-only file
// store behind it as makeSystemSecretBackend has. A module that cannot be loaded answers
// notAvailable, as a keyring that does not answer, so the file store serves instead.
std::shared_ptr<SecretBackend> makeProgramSecretBackend();

// Raised whenever SecretBackend changes, so a module of another build is refused.
inline constexpr int keyringModuleInterface = 1;

} // namespace nuvel
