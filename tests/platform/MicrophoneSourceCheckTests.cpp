#include "Nuvel/platform/MicrophoneDevices.hpp"
#include "Nuvel/platform/MicrophoneSourceCheck.hpp"
#include "Nuvel/platform/QtMainQueue.hpp"
#include "tests/platform/PulseTestSupport.hpp"
#include "tests/support/CaptureFakes.hpp"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

using namespace nuvel;
using namespace nuvel::test;

namespace {

int argc = 1;
char name[] = "tests";
char* argv[] = {name, nullptr};

// Runs one microphone check on the Qt main queue, as the sheet does, and returns how it ended.
std::exception_ptr runCheck(const PulseConnection::Options& server, std::optional<std::uint32_t> deviceID,
                            std::weak_ptr<SourceCheckMeters> meters, double* seconds,
                            std::function<void()> midway = {}) {
    QCoreApplication app(argc, argv);
    QtMainQueue queue;
    ThreadPoolExecutor pool(2);
    const double started = hostTimeSeconds();
    TaskHandle check = spawn(queue, microphoneSourceCheck(&pool, server, deviceID, std::move(meters)));
    check.whenFinished([] { QCoreApplication::quit(); });
    if (midway)
        QTimer::singleShot(1500, &app, midway);
    QTimer::singleShot(20000, &app, [] { QCoreApplication::exit(1); }); // guard against a hang
    EXPECT_EQ(app.exec(), 0);
    *seconds = hostTimeSeconds() - started;
    return check.error();
}

// Our check's record streams still open on the server.
int openChecks(const std::string& client) {
    auto listing = runProgram({"pactl", "list", "source-outputs"});
    if (!listing)
        return -1;
    // Once per stream: PipeWire's server repeats the client's name in other properties too.
    const std::string property = "application.name = \"" + client + "\"";
    int count = 0;
    for (std::size_t at = listing->find(property); at != std::string::npos;
         at = listing->find(property, at + 1))
        ++count;
    return count;
}

} // namespace

TEST(MicrophoneSourceCheck, ThirtyPassesOfTheTestMicrophoneMoveTheMeter) {
    NUVEL_CONNECT_PULSE(connection);
    PulseConnection::Options server;
    server.applicationName = uniqueName("NuvelSourceCheck");
    auto meters = std::make_shared<RecordedMeters>();
    double seconds = 0;
    int openWhileChecking = -1;
    std::exception_ptr error = runCheck(server, std::nullopt, meters, &seconds,
                                        [&] { openWhileChecking = openChecks(server.applicationName); });
    if (error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            FAIL() << "the check failed: " << e.what();
        }
    }
    ASSERT_EQ(meters->microphone.size(), 30u);
    EXPECT_EQ(meters->systemSets, 0);
    // The tone (amplitude 0.5) shows on the meter once buffers flow.
    const double loudest = *std::max_element(meters->microphone.begin(), meters->microphone.end());
    EXPECT_GT(loudest, 0.0);
    EXPECT_NEAR(meters->microphone.back(), 0.5 / std::sqrt(2.0), 0.1);
    EXPECT_GE(seconds, 2.9);
    EXPECT_LT(seconds, 8.0);
    // The check records while it runs, and nothing of it stays on the server.
    EXPECT_EQ(openWhileChecking, 1);
    EXPECT_TRUE(waitFor([&] { return openChecks(server.applicationName) == 0; }, 3.0));
}

TEST(MicrophoneSourceCheck, AnUnpluggedMicrophoneFailsAtOnce) {
    NUVEL_CONNECT_PULSE(connection);
    std::uint32_t missing = 1;
    for (const auto& device : MicrophoneDevices::inputDevices(*connection))
        missing = std::max(missing, device.id + 1000);
    auto meters = std::make_shared<RecordedMeters>();
    double seconds = 0;
    std::exception_ptr error = runCheck({}, missing, meters, &seconds);
    ASSERT_NE(error, nullptr);
    try {
        std::rethrow_exception(error);
    } catch (const MicrophoneDevices::DeviceError& e) {
        EXPECT_EQ(e.kind(), MicrophoneDevices::DeviceError::Case::unavailable);
    } catch (...) {
        FAIL() << "not a device error";
    }
    EXPECT_TRUE(meters->microphone.empty());
    EXPECT_LT(seconds, 2.0);
}
