#include "NuvelKit/calendar/CalendarMeetings.hpp"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

using namespace nuvel;
using Person = CalendarEventInput::Person;
using Provider = CalendarMeeting::Provider;

namespace {

const Date t0 = Date::fromUnix(1'800'000'000);

Person person(std::string name, std::optional<std::string> email = std::nullopt, bool declined = false,
              bool isCurrentUser = false) {
    return Person{std::move(name), std::move(email), isCurrentUser, declined};
}

CalendarEventInput event(std::vector<Person> attendees = {}, std::optional<Person> organizer = std::nullopt) {
    CalendarEventInput e;
    e.id = "event-1";
    e.title = "Weekly sync";
    e.start = t0;
    e.end = t0.adding(1800);
    e.organizer = std::move(organizer);
    e.attendees = std::move(attendees);
    return e;
}

std::vector<Person> numbered(int count, bool withEmail) {
    std::vector<Person> people;
    for (int i = 1; i <= count; ++i) {
        const std::string n = std::to_string(i);
        people.push_back(
            person("Person " + n, withEmail ? std::optional("mailto:p" + n + "@example.com") : std::nullopt));
    }
    return people;
}

struct Expected {
    std::vector<std::string> attendees;
    std::vector<std::string> emails;
    std::optional<std::string> video; // the link's text
    std::optional<Provider> provider;
    std::optional<std::string> title; // checked when given
};

struct ConversionCase {
    const char* name;
    CalendarEventInput input;
    std::optional<Expected> expected; // none: the event is no meeting
};

std::vector<ConversionCase> conversionCases() {
    std::vector<ConversionCase> cases;
    auto add = [&](const char* name, CalendarEventInput input, std::optional<Expected> expected) {
        cases.push_back({name, std::move(input), std::move(expected)});
    };
    auto with = [](auto change) {
        CalendarEventInput e = event();
        change(e);
        return e;
    };

    add("all-day", with([](auto& e) { e.isAllDay = true; }), std::nullopt);
    add("cancelled", with([](auto& e) { e.isCanceled = true; }), std::nullopt);
    add("ends as it starts", with([](auto& e) { e.end = e.start; }), std::nullopt);
    add("ends before it starts", with([](auto& e) { e.end = e.start.adding(-1); }), std::nullopt);
    add("the user declined", event({person("Ann"), person("Me", "mailto:me@example.com", true, true)}),
        std::nullopt);
    add("the user declined as organizer", event({person("Ann")}, person("Me", std::nullopt, true, true)),
        std::nullopt);
    add("others who declined drop out",
        event({person("Ann", std::nullopt, true), person("Bob", "mailto:bob@x.org")}),
        Expected{{"Bob"}, {"bob@x.org"}});
    add("organizer first, the user listed like anyone",
        event({person("Ann"), person("Me", std::nullopt, false, true)}, person("Olga", "mailto:olga@x.org")),
        Expected{{"Olga", "Ann", "Me"}, {"olga@x.org"}});
    add("a declined organizer is left out", event({person("Ann")}, person("Olga", std::nullopt, true)),
        Expected{{"Ann"}, {}});
    add("no name, encoded address in capitals", event({person("", "MAILTO:Jane%40Example.COM")}),
        Expected{{"jane"}, {"jane@example.com"}});
    add("name is the address in other case", event({person("Jane@Example.com", "mailto:jane@example.com")}),
        Expected{{"jane"}, {"jane@example.com"}});
    add("no name and no address", event({person(""), person("  \t ")}), Expected{{}, {}});
    add("names differing in case are one", event({person("ann lee"), person("Ann Lee"), person("ANN LEE")}),
        Expected{{"ann lee"}, {}});
    add("a name is cleaned", event({person("  Ann\n\tLee ")}), Expected{{"Ann Lee"}, {}});
    add("an address not a mail URL is none", event({person("Ann", "https://example.com/ann")}),
        Expected{{"Ann"}, {}});
    {
        Expected capped;
        for (int i = 1; i <= 50; ++i) {
            capped.attendees.push_back("Person " + std::to_string(i));
            capped.emails.push_back("p" + std::to_string(i) + "@example.com");
        }
        add("the 51st name and address are not kept", event(numbered(51, true)), capped);
    }
    {
        CalendarEventInput e = event({person("Ann", "mailto:ann@x.org"), person("Bob", "mailto:ANN@x.org")});
        add("a repeated address is kept once", e, Expected{{"Ann", "Bob"}, {"ann@x.org"}});
    }
    add("a title of white space is empty", with([](auto& e) { e.title = " \t\r\n  "; }),
        Expected{{}, {}, {}, {}, std::string()});
    add("a title with tabs and line breaks", with([](auto& e) { e.title = "Plan\t\tning\r\n  review  "; }),
        Expected{{}, {}, {}, {}, std::string("Plan ning review")});

    // Video links and their providers.
    auto link = [&](const char* name, std::optional<std::string> url, std::optional<std::string> location,
                    std::optional<std::string> notes, std::optional<std::string> expected,
                    std::optional<Provider> provider) {
        CalendarEventInput e = event();
        if (url)
            e.url = Url::parse(*url);
        e.location = std::move(location);
        e.notes = std::move(notes);
        add(name, std::move(e), Expected{{}, {}, std::move(expected), provider});
    };
    link("zoom with a subdomain", {}, {}, "Join: https://acme.zoom.us/j/123456?pwd=ab.c_d-e now",
         "https://acme.zoom.us/j/123456?pwd=ab.c_d-e", Provider::zoom);
    link("zoom personal room", {}, "https://zoom.us/my/jane.doe", {}, "https://zoom.us/my/jane.doe",
         Provider::zoom);
    link("teams under microsoft.com", {}, {},
         "<https://teams.microsoft.com/l/meetup-join/19%3ameeting_x%40thread.v2/0?context=%7b%7d>",
         "https://teams.microsoft.com/l/meetup-join/19%3ameeting_x%40thread.v2/0?context=%7b%7d",
         Provider::teams);
    link("teams under live.com", {}, {}, "https://teams.live.com/meet/9876543",
         "https://teams.live.com/meet/9876543", Provider::teams);
    link("a meet code in capitals", {}, {}, "HTTPS://MEET.GOOGLE.COM/ABC-DEFG-HIJ",
         "HTTPS://MEET.GOOGLE.COM/ABC-DEFG-HIJ", Provider::meet);
    link("a malformed meet code", {}, {}, "https://meet.google.com/abcd-efg-hij", {}, {});
    link("webex", {}, {}, "https://acme.webex.com/meet/jane", "https://acme.webex.com/meet/jane",
         Provider::webex);
    link("facetime", {}, {}, "https://facetime.apple.com/join#v=1&p=AbC",
         "https://facetime.apple.com/join#v=1&p=AbC", Provider::facetime);
    link("plain web scheme is no link", {}, {}, "http://zoom.us/j/123", {}, {});
    link("a look-alike host is no link", {}, {}, "https://zoom.us.example.com/j/1 https://evilzoom.us/j/1",
         {}, {});
    link("the URL field wins over the notes", "https://teams.live.com/meet/1", {}, "https://zoom.us/j/2",
         "https://teams.live.com/meet/1", Provider::teams);
    link("the location wins over the notes", {}, "https://meet.google.com/abc-defg-hij",
         "https://zoom.us/j/2", "https://meet.google.com/abc-defg-hij", Provider::meet);
    link("within one text zoom wins over an earlier teams link", {}, {},
         "https://teams.live.com/meet/1 then https://zoom.us/j/2", "https://zoom.us/j/2", Provider::zoom);
    link("a teams match that is no URL gives way to the next provider", {}, {},
         "https://teams.live.com/meet/%zz https://acme.webex.com/x", "https://acme.webex.com/x",
         Provider::webex);
    return cases;
}

} // namespace

TEST(CalendarMeetings, ConvertingEvents) {
    for (const auto& c : conversionCases()) {
        SCOPED_TRACE(c.name);
        auto m = CalendarMeetings::meeting(c.input);
        if (!c.expected) {
            EXPECT_FALSE(m);
            continue;
        }
        ASSERT_TRUE(m);
        EXPECT_EQ(m->id, c.input.id);
        EXPECT_EQ(m->start, c.input.start);
        EXPECT_EQ(m->end, c.input.end);
        EXPECT_EQ(m->attendees, c.expected->attendees);
        EXPECT_EQ(m->attendeeEmails, c.expected->emails);
        EXPECT_EQ(m->videoURL ? std::optional(m->videoURL->string()) : std::nullopt, c.expected->video);
        EXPECT_EQ(m->provider, c.expected->provider);
        if (c.expected->title) {
            EXPECT_EQ(m->title, *c.expected->title);
        }
    }
}

TEST(CalendarMeetings, NormalisingAddresses) {
    const std::string longLocal(255 - std::string("@example.com").size(), 'a');
    const struct {
        std::string text;
        std::optional<std::string> expected;
    } cases[] = {
        {"MAILTO:Jane%40Example.COM", "jane@example.com"},
        {"  mailto:bob@x.org \n", "bob@x.org"},
        {"J\xC3\x89R\xC3\x94ME@EXAMPLE.FR", "j\xC3\xA9r\xC3\xB4me@example.fr"},
        {"mailto:50%25off@x.org", "50%off@x.org"},
        {"mailto:a%zz@x.org", "a%zz@x.org"}, // not valid percent-encoding: left as it is
        {"mailto:%FF@x.org", "%ff@x.org"},   // decodes to no UTF-8: left as it is
        {longLocal.substr(1) + "@example.com", longLocal.substr(1) + "@example.com"}, // 254 characters
        {longLocal + "@example.com", std::nullopt},                                   // 255
        {"a@b@example.com", std::nullopt},
        {"ann lee@example.com", std::nullopt},
        {"ann@example", std::nullopt},
        {"mailto:", std::nullopt},
        {"", std::nullopt},
        // Decoded escapes never smuggle in control or format characters.
        {"mailto:jane@example.com%0A", std::nullopt},
        {"mailto:jane%00@example.com", std::nullopt},
        {"mailto:jane@example.com%E2%80%A8", std::nullopt}, // line separator at the end
        {"mailto:%E2%80%AEjane@example.com", std::nullopt}, // right-to-left override
        {"jane\x01@example.com", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CalendarMeetings::normalizedEmail(c.text), c.expected) << c.text;
}

TEST(CalendarMeetings, CleaningTitles) {
    const struct {
        std::string text;
        std::size_t limit;
        std::string expected;
    } cases[] = {
        {"  Quarterly\t\tplanning\r\n review ", 200, "Quarterly planning review"},
        {"\t \n\r ", 200, ""},
        {"A\xE2\x80\x8B"
         "B\x07"
         "C",
         200, "A B C"},                  // zero-width space (Cf) and bell (Cc)
        {"Budget review", 7, "Budget "}, // a cut just after a word keeps its space
        {"Budget review", 6, "Budget"},
        {"caf\x65\xCC\x81 ok", 4, "caf\x65\xCC\x81"}, // characters, not bytes
        {"\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7 Paris", 1, "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7"},
        {"anything", 0, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CalendarMeetings::cleanTitle(c.text, c.limit), c.expected) << c.text;

    // Names, titles and locations are cut to their limits.
    CalendarEventInput e = event({person(std::string(100, 'n'))});
    e.title = std::string(250, 't');
    e.location = std::string(250, 'l');
    auto m = CalendarMeetings::meeting(e);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->title, std::string(200, 't'));
    EXPECT_EQ(m->location, std::string(200, 'l'));
    EXPECT_EQ(m->attendees, std::vector<std::string>{std::string(80, 'n')});
}

namespace {

CalendarMeeting at(std::string id, double startOffset, double duration = 1800, bool video = true) {
    CalendarMeeting m;
    m.id = std::move(id);
    m.start = t0.adding(startOffset);
    m.end = m.start.adding(duration);
    if (video) {
        m.videoURL = Url::parse("https://zoom.us/j/1");
        m.provider = Provider::zoom;
    }
    return m;
}

std::vector<std::string> ids(const std::vector<CalendarMeeting>& meetings) {
    std::vector<std::string> result;
    for (const auto& m : meetings)
        result.push_back(m.id);
    return result;
}

} // namespace

TEST(CalendarMeetings, CurrentUpcomingAndDue) {
    using List = std::vector<CalendarMeeting>;
    const struct {
        const char* name;
        List meetings;
        std::optional<std::string> current;
    } currentCases[] = {
        {"the later-started of two in progress", {at("a", -600), at("b", -60), at("c", 30)}, "b"},
        {"equal starts in progress: greatest id", {at("a", -60), at("c", -60), at("b", -60)}, "c"},
        {"in progress beats starting soon", {at("soon", 10), at("on", -3000, 3600)}, "on"},
        {"the earlier of two starting soon", {at("late", 200), at("early", 100)}, "early"},
        {"equal soon starts: smallest id", {at("b", 100), at("a", 100)}, "a"},
        {"starting exactly 300 s ahead", {at("a", 300)}, "a"},
        {"starting 301 s ahead", {at("a", 301)}, std::nullopt},
        {"starting exactly now is in progress", {at("soon", 100), at("now", 0)}, "now"},
        {"ending exactly now is over", {at("over", -1800, 1800)}, std::nullopt},
        {"nothing", {}, std::nullopt},
    };
    for (const auto& c : currentCases) {
        auto m = CalendarMeetings::current(c.meetings, t0);
        EXPECT_EQ(m ? std::optional(m->id) : std::nullopt, c.current) << c.name;
    }

    const List four = {at("d", 4000), at("ended", -3600, 1800), at("b", 1000), at("c", 2000), at("a", -100)};
    EXPECT_EQ(ids(CalendarMeetings::upcoming(four, t0, 3, 43200)), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(ids(CalendarMeetings::upcoming(four, t0, 10, 2000)), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(ids(CalendarMeetings::upcoming({at("y", 60), at("x", 60)}, t0, 3, 43200)),
              (std::vector<std::string>{"x", "y"}));

    const List due = {at("later", 60), at("now", 0), at("soon", 30), at("novideo", 20, 1800, false),
                      at("past", -10), at("far", 61)};
    EXPECT_EQ(ids(CalendarMeetings::dueReminders(due, t0, {}, 60)),
              (std::vector<std::string>{"soon", "later"}));
    const std::set<std::string> announced = {CalendarMeetings::reminderKey(at("soon", 30))};
    EXPECT_EQ(ids(CalendarMeetings::dueReminders(due, t0, announced, 60)),
              (std::vector<std::string>{"later"}));
}

TEST(CalendarMeetings, ReminderKeysAndProviderNames) {
    CalendarMeeting m = at("uid-7", 0);
    m.start = Date::fromUnix(1'700'000'000.9);
    EXPECT_EQ(CalendarMeetings::reminderKey(m), "uid-7@1700000000");
    m.start = Date::fromUnix(-0.5);
    EXPECT_EQ(CalendarMeetings::reminderKey(m), "uid-7@0");
    m.start = Date::fromUnix(1'700'003'600);
    EXPECT_EQ(CalendarMeetings::reminderKey(m), "uid-7@1700003600"); // moved: a fresh key

    for (auto p : {Provider::zoom, Provider::teams, Provider::meet, Provider::webex, Provider::facetime})
        EXPECT_EQ(providerFromRawValue(rawValue(p)), p);
    EXPECT_FALSE(providerFromRawValue("Zoom"));
    EXPECT_EQ(displayName(Provider::meet), "Google Meet");
    EXPECT_EQ(displayName(Provider::teams), "Microsoft Teams");
}
