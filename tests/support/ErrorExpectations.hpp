#pragma once

#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/support/Crypto.hpp"

#include <gtest/gtest.h>

namespace nuvel::test {

// Runs `f` and expects it to throw the RecordingError case `code`.
template <class F> void expectRecordingError(RecordingError::Code code, F&& f) {
    try {
        f();
        ADD_FAILURE() << "no error, expected " << RecordingError::name(code);
    } catch (const RecordingError& e) {
        EXPECT_EQ(e.code(), code) << RecordingError::name(e.code());
    }
}

// Runs `f` and expects a sealed box to fail authentication.
template <class F> void expectAuthenticationFailure(F&& f) {
    try {
        f();
        ADD_FAILURE() << "opened";
    } catch (const CryptoError& e) {
        EXPECT_EQ(e.code(), CryptoError::Code::authenticationFailure);
    }
}

} // namespace nuvel::test
