#include "Nuvel/platform/MicrophoneDevices.hpp"
#include "Nuvel/platform/PulseIntrospection.hpp"
#include "NuvelKit/support/Unicode.hpp"
#include "tests/platform/PulseTestSupport.hpp"

#include <gtest/gtest.h>

using namespace nuvel;
using namespace nuvel::test;
namespace devices = nuvel::MicrophoneDevices;

namespace {

std::unique_ptr<LoadedModule> nullSource(const std::string& name, const std::string& description) {
    return privateSource(name, {"description=\"" + description + "\""});
}

const devices::Device* findByUid(const std::vector<devices::Device>& list, const std::string& uid) {
    for (const auto& device : list)
        if (device.uid == uid)
            return &device;
    return nullptr;
}

} // namespace

TEST(MicrophoneDevices, ErrorTexts) {
    auto configuration = devices::DeviceError::configuration(-50);
    EXPECT_EQ(configuration.kind(), devices::DeviceError::Case::configuration);
    EXPECT_EQ(configuration.status(), -50);
    EXPECT_EQ(configuration.description(), "The selected microphone could not be configured (-50).");
    auto unavailable = devices::DeviceError::unavailable();
    EXPECT_EQ(unavailable.kind(), devices::DeviceError::Case::unavailable);
    EXPECT_EQ(unavailable.description(),
              "The selected microphone is unavailable. Choose another microphone.");
}

TEST(MicrophoneDevices, ListsMicrophonesWithoutMonitorsSortedByName) {
    NUVEL_CONNECT_PULSE(connection);
    auto list = devices::inputDevices(*connection);
    const devices::Device* mic = findByUid(list, "testmic");
    ASSERT_NE(mic, nullptr);
    EXPECT_EQ(mic->name, "TestMicrophone");
    EXPECT_EQ(mic->id, sourceInfo(*connection, "testmic")->index);
    for (const auto& source : listSources(*connection)) {
        EXPECT_TRUE(!source.isMonitor || findByUid(list, source.name) == nullptr) << source.name;
    }
    for (std::size_t i = 1; i < list.size(); ++i)
        EXPECT_LE(unicode::localizedStandardCompare(list[i - 1].name, list[i].name), 0);
}

TEST(MicrophoneDevices, DevicesAppearAndVanishWithTheirSources) {
    NUVEL_CONNECT_PULSE(connection);
    std::string ten = uniqueName("nuvel_mic_ten");
    std::string two = uniqueName("nuvel_mic_two");
    auto tenSource = nullSource(ten, "Nuvel Test Mic 10");
    auto twoSource = nullSource(two, "Nuvel Test Mic 2");
    ASSERT_TRUE(tenSource->loaded() && twoSource->loaded());

    auto list = devices::inputDevices(*connection);
    const devices::Device* tenDevice = findByUid(list, ten);
    const devices::Device* twoDevice = findByUid(list, two);
    ASSERT_NE(tenDevice, nullptr);
    ASSERT_NE(twoDevice, nullptr);
    EXPECT_EQ(tenDevice->name, "Nuvel Test Mic 10");
    // Numbers sort by value: "…2" comes before "…10".
    EXPECT_LT(twoDevice - list.data(), tenDevice - list.data());

    auto found = devices::device(*connection, ten);
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, *tenDevice);
    EXPECT_FALSE(devices::device(*connection, ten.substr(0, ten.size() - 1)));

    // Applying a device resolves it to the source a record stream opens; none keeps the default.
    EXPECT_EQ(devices::apply(*connection, tenDevice->id), ten);
    EXPECT_EQ(devices::apply(*connection, std::nullopt), std::nullopt);

    std::uint32_t goneID = tenDevice->id;
    tenSource->unload();
    ASSERT_TRUE(waitFor([&] { return !sourceListed(ten); }, 30.0));
    auto after = devices::inputDevices(*connection);
    EXPECT_EQ(findByUid(after, ten), nullptr);
    EXPECT_NE(findByUid(after, two), nullptr);
    EXPECT_FALSE(devices::device(*connection, ten));
    try {
        devices::apply(*connection, goneID);
        ADD_FAILURE() << "an unplugged device was applied";
    } catch (const devices::DeviceError& error) {
        EXPECT_EQ(error.kind(), devices::DeviceError::Case::unavailable);
    }
}
