#pragma once

#include "NuvelKit/support/Bytes.hpp"

namespace nuvel::ed25519 {

constexpr std::size_t publicKeySize = 32;
constexpr std::size_t signatureSize = 64;

// True only when `signature` is a valid Ed25519 signature of `message` under the raw 32-byte
// `publicKey`. A key or signature of the wrong size, or one the library refuses, is false.
bool verify(ByteView publicKey, ByteView message, ByteView signature);

} // namespace nuvel::ed25519
