#include "Nuvel/platform/HostIdentity.hpp"
#include "tests/support/TempDir.hpp"

#include <climits>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

using namespace nuvel;

TEST(HostIdentity, ThePrettyNameIsReadAsTheShellWouldReadIt) {
    EXPECT_EQ(HostIdentity::prettyHostname("PRETTY_HOSTNAME=Studio\n"), "Studio");
    EXPECT_EQ(HostIdentity::prettyHostname("CHASSIS=laptop\nPRETTY_HOSTNAME=\"Ada's Laptop\"\n"),
              "Ada's Laptop");
    EXPECT_EQ(HostIdentity::prettyHostname("PRETTY_HOSTNAME='Room \"B\"'"), "Room \"B\"");
    EXPECT_EQ(HostIdentity::prettyHostname(R"(PRETTY_HOSTNAME="say \"hi\" \\ there")"),
              R"(say "hi" \ there)");
    EXPECT_EQ(HostIdentity::prettyHostname(R"(PRETTY_HOSTNAME=Two\ Words)"), "Two Words");
    EXPECT_EQ(HostIdentity::prettyHostname("  PRETTY_HOSTNAME=\"Ünïcode ☕\"\r\n"), "Ünïcode ☕");
    EXPECT_EQ(HostIdentity::prettyHostname("PRETTY_HOSTNAME=old\nPRETTY_HOSTNAME=new"), "new");
    EXPECT_FALSE(HostIdentity::prettyHostname("PRETTY_HOSTNAME=\n"));
    EXPECT_FALSE(HostIdentity::prettyHostname("PRETTY_HOSTNAME=\"\""));
    EXPECT_FALSE(HostIdentity::prettyHostname("# PRETTY_HOSTNAME=Commented\nHOSTNAME=x"));
    EXPECT_FALSE(HostIdentity::prettyHostname(""));
}

TEST(HostIdentity, TheDeviceNameFallsBackToTheHostName) {
    test::TempDir dir("machine-info");
    { std::ofstream(dir / "machine-info") << "PRETTY_HOSTNAME=\"Field Recorder\"\n"; }
    EXPECT_EQ(HostIdentity::deviceName(dir / "machine-info"), "Field Recorder");

    char host[HOST_NAME_MAX + 1] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    EXPECT_EQ(HostIdentity::deviceName(dir / "missing"), std::string(host));
    { std::ofstream(dir / "empty") << "ICON_NAME=computer\n"; }
    EXPECT_EQ(HostIdentity::deviceName(dir / "empty"), std::string(host));
}

TEST(HostIdentity, LocaleNamesBecomeLanguageTags) {
    EXPECT_EQ(HostIdentity::languageTag("ar"), "ar");
    EXPECT_EQ(HostIdentity::languageTag("ar_EG.UTF-8"), "ar-EG");
    EXPECT_EQ(HostIdentity::languageTag("en_US.UTF-8"), "en-US");
    EXPECT_EQ(HostIdentity::languageTag("de_DE@euro"), "de-DE");
    EXPECT_EQ(HostIdentity::languageTag("sr_RS.UTF-8@latin"), "sr-RS");
    EXPECT_EQ(HostIdentity::languageTag("es_419"), "es-419");
    EXPECT_EQ(HostIdentity::languageTag("pt-br"), "pt-BR");
    EXPECT_EQ(HostIdentity::languageTag("ast"), "ast");
    EXPECT_FALSE(HostIdentity::languageTag("C"));
    EXPECT_FALSE(HostIdentity::languageTag("C.UTF-8"));
    EXPECT_FALSE(HostIdentity::languageTag("POSIX"));
    EXPECT_FALSE(HostIdentity::languageTag(""));
    EXPECT_FALSE(HostIdentity::languageTag("1x_US"));
}

TEST(HostIdentity, ThePreferredLanguageIsTheFirstTheEnvironmentNames) {
    auto with = [](std::map<std::string, std::string> env) {
        return HostIdentity::preferredLanguage([env](const char* name) -> const char* {
            auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        });
    };
    EXPECT_EQ(with({{"LANGUAGE", "ar:en_US"}, {"LANG", "de_DE.UTF-8"}}), "ar");
    EXPECT_EQ(with({{"LANGUAGE", ":fr_CA:en"}}), "fr-CA") << "empty entries are passed over";
    EXPECT_EQ(with({{"LANGUAGE", ""}, {"LC_ALL", "ar_SA.UTF-8"}, {"LANG", "en_GB.UTF-8"}}), "ar-SA");
    EXPECT_EQ(with({{"LC_MESSAGES", "it_IT.UTF-8"}, {"LANG", "en_GB.UTF-8"}}), "it-IT");
    EXPECT_EQ(with({{"LANG", "en_GB.UTF-8"}}), "en-GB");
    EXPECT_FALSE(with({{"LC_ALL", "C"}, {"LANG", "en_GB.UTF-8"}})) << "LC_ALL=C overrides LANG";
    EXPECT_FALSE(with({}));
}
