#include "Nuvel/platform/InfoProperties.hpp"
#include "tests/support/TempDir.hpp"

#include <fstream>
#include <gtest/gtest.h>

using namespace nuvel;

namespace {

TEST(InfoProperties, OriginsAreTakenOnlyWhenTheyAreSecureOriginsOrThisMachine) {
    struct Case {
        const char* json;
        std::optional<std::string> service; // none: refused
        std::optional<std::string> web;
    };
    const Case cases[] = {
        {R"({"NuvelServiceOrigin": "https://api.nuvel.example"})", "https://api.nuvel.example",
         "https://api.nuvel.example"},
        {R"({"NuvelServiceOrigin": "https://api.nuvel.example/", "NuvelWebOrigin": "https://nuvel.example:8443"})",
         "https://api.nuvel.example", "https://nuvel.example:8443"},
        {R"({"NuvelServiceOrigin": "http://127.0.0.1:41234", "NuvelWebOrigin": ""})",
         "http://127.0.0.1:41234", "http://127.0.0.1:41234"},
        {R"({"NuvelServiceOrigin": "http://localhost:8080"})", "http://localhost:8080",
         "http://localhost:8080"},
        {R"({"NuvelServiceOrigin": "http://api.nuvel.example"})", std::nullopt, std::nullopt},
        {R"({"NuvelServiceOrigin": "https://api.nuvel.example/v1"})", std::nullopt, std::nullopt},
        {R"({"NuvelServiceOrigin": "https://user@api.nuvel.example"})", std::nullopt, std::nullopt},
        {R"({"NuvelServiceOrigin": "ftp://api.nuvel.example"})", std::nullopt, std::nullopt},
        {R"({"NuvelServiceOrigin": ""})", std::nullopt, std::nullopt},
        {R"({"NuvelServiceOrigin": 7})", std::nullopt, std::nullopt},
        {R"({})", std::nullopt, std::nullopt},
        {R"({"NuvelServiceOrigin": "https://a.example", "NuvelWebOrigin": "http://b.example"})",
         "https://a.example", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        const InfoProperties info(json::parse(std::string_view(c.json)));
        if (c.service) {
            EXPECT_EQ(info.serviceOrigin(), *c.service);
        } else {
            EXPECT_THROW(info.serviceOrigin(), InfoPropertiesError);
        }
        if (c.web) {
            EXPECT_EQ(info.webOrigin(), *c.web);
        } else {
            EXPECT_THROW(info.webOrigin(), InfoPropertiesError);
        }
    }
}

TEST(InfoProperties, TheFileMustBeAJsonObjectAndTypedReadsIgnoreOtherTypes) {
    test::TempDir folder("info");
    const auto file = folder / "Info.json";
    EXPECT_THROW(InfoProperties::load(file), InfoPropertiesError) << "missing";
    for (const char* text : {"not json", "[1, 2]", "\"text\""}) {
        std::ofstream(file) << text;
        EXPECT_THROW(InfoProperties::load(file), InfoPropertiesError) << text;
    }
    std::ofstream(file) << R"({"SUFeedURL": "https://u.example/feed", "SURequireSignedFeed": true,
                               "SUAutomaticallyUpdate": "NO", "NuvelEnableUpdates": true})";
    const InfoProperties info = InfoProperties::load(file);
    EXPECT_EQ(info.string("SUFeedURL"), "https://u.example/feed");
    EXPECT_EQ(info.boolean("SURequireSignedFeed"), true);
    EXPECT_EQ(info.boolean("SUAutomaticallyUpdate"), std::nullopt) << "a string is not a Boolean";
    EXPECT_EQ(info.string("NuvelEnableUpdates"), std::nullopt) << "a Boolean is not a string";
    EXPECT_EQ(info.string("SUPublicEDKey"), std::nullopt);
    EXPECT_TRUE(std::filesystem::exists(InfoProperties::executableFolder()));
}

} // namespace
