// The stand-in's meeting-library API over real HTTP: pages with cursors, search, documents,
// corrections, rename, delete, reconciliation, sharing, links, settings and audio.
#include "tests/service/StandinTestSupport.hpp"

#include <regex>
#include <set>

namespace nuvel::test {
namespace {

class StandinLibraryTest : public StandinTest {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        token = service.issueToken();
        ids = service.seedMeetings(5);
    }
    std::string meetingPath(std::size_t i, const std::string& rest = "") const {
        return "/api/meetings/" + ids[i] + rest;
    }
    std::string token;
    std::vector<std::string> ids;
};

TEST_F(StandinLibraryTest, PagesFollowTheirCursorsWhenTheClientEncodesThem) {
    std::vector<std::string> seen;
    std::string path = "/api/meetings?workspace_id=ws_personal&limit=2";
    for (int page = 0; page < 3; ++page) {
        auto result = get(path, token);
        ASSERT_EQ(result->status, 200) << result->body;
        const Json doc = bodyOf(result);
        EXPECT_EQ(doc["contract_version"], 1);
        EXPECT_EQ(doc["offline_access_seconds"], 86400.0);
        for (const Json& m : doc["meetings"])
            seen.push_back(m["id"]);
        if (page < 2) {
            const std::string cursor = doc["next_cursor"];
            // Standard base64: a client that does not encode "+" and "/" breaks it.
            EXPECT_NE(cursor.find('+'), std::string::npos);
            EXPECT_NE(cursor.find('/'), std::string::npos);
            EXPECT_EQ(
                errorCode(get("/api/meetings?workspace_id=ws_personal&limit=2&cursor=" + cursor, token)),
                "invalid_cursor");
            path = "/api/meetings?workspace_id=ws_personal&limit=2&cursor=" + encode(cursor);
        } else {
            EXPECT_FALSE(doc.contains("next_cursor"));
        }
    }
    EXPECT_EQ(seen, ids);

    const Json summary = bodyOf(get("/api/meetings?workspace_id=ws_personal&limit=1", token))["meetings"][0];
    for (const char* key : {"id", "title", "state", "workspace_id", "revision", "access", "updated_at",
                            "duration", "audio_deleted", "created_at", "recorded_at"}) {
        EXPECT_TRUE(summary.contains(key)) << key;
    }
    EXPECT_EQ(summary["access"]["can"]["delete"], true);

    EXPECT_EQ(bodyOf(get("/api/meetings?workspace_id=ws_team&limit=50", token))["meetings"], Json::array());
    EXPECT_EQ(get("/api/meetings?workspace_id=ws_elsewhere&limit=50", token)->status, 403);
    EXPECT_EQ(errorCode(get("/api/meetings?workspace_id=ws_personal&limit=101", token)), "invalid_request");
    EXPECT_EQ(errorCode(get("/api/meetings?workspace_id=ws_team&limit=2&cursor=" +
                                encode(bodyOf(get("/api/meetings?workspace_id=ws_personal&limit=2",
                                                  token))["next_cursor"]),
                            token)),
              "invalid_cursor");
}

TEST_F(StandinLibraryTest, SearchFindsPassagesAndMarksTheMatch) {
    const Json doc = bodyOf(get("/api/search?q=" + encode("FREE tier") + "&workspace_id=ws_personal", token));
    EXPECT_EQ(doc["query"], "FREE tier");
    ASSERT_FALSE(doc["results"].empty());
    const Json& hit = doc["results"][0];
    EXPECT_EQ(hit["kind"], "transcript");
    EXPECT_EQ(hit["layer"], "corrected");
    std::string text, marked;
    for (const Json& piece : hit["snippet"]) {
        text += piece["text"].get<std::string>();
        if (piece["hit"])
            marked += piece["text"].get<std::string>();
    }
    EXPECT_NE(text.find("free tier"), std::string::npos) << text;
    EXPECT_EQ(marked, "free tier");
    EXPECT_EQ(doc["truncated"], false);

    // "+" in a raw query reads as a space.
    EXPECT_EQ(bodyOf(get("/api/search?q=free+tier", token))["query"], "free tier");
    EXPECT_EQ(bodyOf(get("/api/search?q=" + encode("c++"), token))["query"], "c++");
    const Json titles = bodyOf(get("/api/search?q=design", token));
    ASSERT_EQ(titles["results"].size(), 1u);
    EXPECT_EQ(titles["results"][0]["kind"], "title");
    EXPECT_EQ(titles["results"][0]["passage"], 0);
    EXPECT_EQ(bodyOf(get("/api/search?q=", token))["results"], Json::array());
    EXPECT_EQ(errorCode(get("/api/search?q=" + std::string(201, 'a'), token)), "query_too_long");
    EXPECT_EQ(get("/api/search", token)->status, 400);
}

TEST(StandinSearchLimit, SetsTruncatedBeyondTheLimit) {
    StandinOptions options;
    options.searchResultLimit = 3;
    StandinService service(options);
    service.start();
    service.seedMeetings(3);
    httplib::Client c("127.0.0.1", service.port());
    const Json doc =
        bodyOf(c.Get("/api/search?q=the", {{"Authorization", "Bearer " + service.issueToken()}}));
    EXPECT_EQ(doc["results"].size(), 3u);
    EXPECT_EQ(doc["truncated"], true);
}

TEST_F(StandinLibraryTest, TranscriptLayersAndNotesWithEvidence) {
    const Json raw = bodyOf(get(meetingPath(0, "/transcript?layer=raw"), token));
    EXPECT_EQ(raw["layer"], "raw");
    EXPECT_EQ(raw["revision"], 1);
    EXPECT_GT(raw["duration_ms"].get<std::int64_t>(), 0);
    EXPECT_EQ(raw["transcript"]["speakers"]["s1"]["label"], "Maya");
    std::set<std::string> wordIds;
    for (const Json& w : raw["transcript"]["words"]) {
        EXPECT_LT(w["start_ms"].get<std::int64_t>(), w["end_ms"].get<std::int64_t>());
        wordIds.insert(w["id"]);
    }
    EXPECT_FALSE(raw.contains("corrections"));
    EXPECT_EQ(errorCode(get(meetingPath(0, "/transcript?layer=Raw"), token)), "invalid_layer");
    EXPECT_EQ(errorCode(get(meetingPath(0, "/transcript"), token)), "invalid_layer");

    const Json notes = bodyOf(get(meetingPath(0, "/notes"), token));
    EXPECT_EQ(notes["ai_notes"], true);
    EXPECT_TRUE(notes["notes"]["meeting"]["output"]["markdown"].is_string());
    ASSERT_FALSE(notes["evidence"].empty());
    for (const Json& e : notes["evidence"])
        EXPECT_EQ(wordIds.count(e["word_id"]), 1u) << e.dump();
    EXPECT_EQ(notes["provenance"]["stale_text"], false);

    // The third seeded meeting was recorded without AI notes.
    const Json disabled = bodyOf(get(meetingPath(2, "/notes"), token));
    EXPECT_EQ(disabled["ai_notes"], false);
    EXPECT_EQ(disabled["run"]["state"], "disabled");
    EXPECT_FALSE(disabled.contains("notes"));
    EXPECT_TRUE(disabled.contains("provenance"));
}

TEST_F(StandinLibraryTest, RevisionsApplyOnceAndConflictWithTheCurrentRevision) {
    const std::string word =
        bodyOf(get(meetingPath(0, "/transcript?layer=corrected"), token))["transcript"]["words"][0]["id"];
    const Json request{
        {"operation_id", "7d444840-9dc0-11d1-b245-5ffdce74fad2"},
        {"revision", 1},
        {"operations", Json::array({{{"type", "word_text"}, {"word_id", word}, {"text", "Hello"}},
                                    {{"type", "speaker_label"}, {"speaker_id", "s2"}, {"label", "Jo"}}})}};
    auto applied = send("PATCH", meetingPath(0, "/revision"), token, request);
    ASSERT_EQ(applied->status, 200) << applied->body;
    EXPECT_EQ(bodyOf(applied),
              (Json{{"revision", 2}, {"operation_id", request["operation_id"]}, {"replayed", false}}));
    EXPECT_EQ(bodyOf(send("PATCH", meetingPath(0, "/revision"), token, request))["replayed"], true);

    Json stale = request;
    stale["operation_id"] = "8d444840-9dc0-11d1-b245-5ffdce74fad2";
    auto conflict = send("PATCH", meetingPath(0, "/revision"), token, stale);
    EXPECT_EQ(conflict->status, 409);
    EXPECT_EQ(bodyOf(conflict)["error"]["detail"]["revision"], 2);

    const Json corrected = bodyOf(get(meetingPath(0, "/transcript?layer=corrected"), token));
    EXPECT_EQ(corrected["revision"], 2);
    EXPECT_EQ(corrected["transcript"]["words"][0]["text"], "Hello");
    EXPECT_EQ(corrected["transcript"]["speakers"]["s2"]["label"], "Jo");
    EXPECT_EQ(corrected["corrections"][0]["id"], word);
    EXPECT_EQ(corrected["corrections"][0]["from"], "Thanks");
    EXPECT_EQ(bodyOf(get(meetingPath(0, "/transcript?layer=raw"), token))["transcript"]["words"][0]["text"],
              "Thanks");
    EXPECT_EQ(bodyOf(get(meetingPath(0), token))["revision"], 2);
    EXPECT_EQ(bodyOf(get(meetingPath(0, "/notes"), token))["provenance"]["stale_text"], true);

    Json unknown = stale;
    unknown["revision"] = 2;
    unknown["operations"] =
        Json::array({{{"type", "word_speaker"}, {"word_id", word}, {"speaker_id", "s9"}}});
    EXPECT_EQ(errorCode(send("PATCH", meetingPath(0, "/revision"), token, unknown)), "unknown_speaker");
    unknown["operations"] = Json::array({{{"type", "word_text"}, {"word_id", word}}});
    EXPECT_EQ(errorCode(send("PATCH", meetingPath(0, "/revision"), token, unknown)), "invalid_operation");
    // A failed correction changes nothing.
    EXPECT_EQ(bodyOf(get(meetingPath(0), token))["revision"], 2);
    EXPECT_EQ(send("PATCH", meetingPath(0, "/revisions"), token, unknown)->status, 404);
}

TEST_F(StandinLibraryTest, RenameDeleteAndReconcile) {
    EXPECT_EQ(send("PATCH", meetingPath(1), token, Json{{"title", "  Board meeting  "}})->status, 200);
    const Json renamed = bodyOf(get(meetingPath(1), token));
    EXPECT_EQ(renamed["title"], "Board meeting");
    EXPECT_EQ(renamed["title_auto"], false);
    EXPECT_EQ(errorCode(send("PATCH", meetingPath(1), token, Json{{"title", "   "}})), "invalid_title");
    EXPECT_EQ(errorCode(send("PATCH", meetingPath(1), token, Json{{"title", std::string(201, 'x')}})),
              "invalid_title");

    EXPECT_EQ(sendRaw("DELETE", meetingPath(1), token, "", "")->status, 204);
    EXPECT_EQ(get(meetingPath(1), token)->status, 404);
    EXPECT_EQ(bodyOf(get("/api/meetings?workspace_id=ws_personal&limit=50", token))["meetings"].size(), 4u);

    const Json reconciled =
        bodyOf(get("/api/meetings/reconcile?ids=" + ids[0] + "," + ids[1] + ",mt_gone", token));
    ASSERT_EQ(reconciled["meetings"].size(), 1u);
    EXPECT_EQ(reconciled["meetings"][0]["id"], ids[0]);
    EXPECT_EQ(reconciled["removed_ids"], (Json::array({ids[1], "mt_gone"})));
    EXPECT_EQ(bodyOf(get("/api/meetings/reconcile?ids=", token)),
              (Json{{"meetings", Json::array()}, {"removed_ids", Json::array()}}));
    std::string many = "a";
    for (int i = 0; i < 100; ++i)
        many += ",a";
    EXPECT_EQ(errorCode(get("/api/meetings/reconcile?ids=" + many, token)), "too_many_ids");
}

TEST_F(StandinLibraryTest, SharesAndViewOnlyLinks) {
    auto invited = send("POST", meetingPath(0, "/shares"), token,
                        Json{{"kind", "guest"}, {"email", "Guest@Example.com "}, {"permission", "viewer"}});
    ASSERT_EQ(invited->status, 201) << invited->body;
    Json sharing = bodyOf(get(meetingPath(0, "/sharing"), token));
    ASSERT_EQ(sharing["shares"].size(), 1u);
    EXPECT_EQ(sharing["shares"][0]["email"], "guest@example.com");
    EXPECT_EQ(sharing["workspace_id"], "ws_personal");
    EXPECT_EQ(sharing["plan_required"], false);
    EXPECT_EQ(errorCode(send("POST", meetingPath(0, "/shares"), token,
                             Json{{"kind", "guest"}, {"email", "nobody"}})),
              "invalid_email");
    EXPECT_EQ(
        send("POST", meetingPath(0, "/shares"), token, Json{{"kind", "member"}, {"user_ids", {"u1", "u2"}}})
            ->status,
        201);
    const std::string shareId = sharing["shares"][0]["id"];
    EXPECT_EQ(sendRaw("DELETE", meetingPath(0, "/shares/" + shareId), token, "", "")->status, 204);
    EXPECT_EQ(bodyOf(get(meetingPath(0, "/sharing"), token))["shares"].size(), 2u);

    auto created =
        send("POST", meetingPath(0, "/links"), token, Json{{"expires_days", 7.0}, {"include_audio", true}});
    ASSERT_EQ(created->status, 201) << created->body;
    const Json link = bodyOf(created);
    // On the origin the stand-in serves, which is the web origin of the application beside it.
    const std::string url = link["url"].get<std::string>();
    EXPECT_EQ(url.rfind(service.origin() + "/s/#", 0), 0u) << url;
    EXPECT_TRUE(std::regex_match(url.substr(url.find('#') + 1), std::regex("[0-9a-f]{64}"))) << url;
    sharing = bodyOf(get(meetingPath(0, "/sharing"), token));
    ASSERT_EQ(sharing["links"].size(), 1u);
    EXPECT_EQ(sharing["links"][0]["id"], link["id"]);
    EXPECT_TRUE(sharing["links"][0]["expires_at"].is_number());
    EXPECT_EQ(sharing["links"][0]["include_audio"], true);
    EXPECT_FALSE(sharing["links"][0].contains("url"));
    EXPECT_EQ(errorCode(send("POST", meetingPath(0, "/links"), token,
                             Json{{"expires_days", 14}, {"include_audio", false}})),
              "invalid_link");
    EXPECT_EQ(
        sendRaw("DELETE", meetingPath(0, "/links/" + link["id"].get<std::string>()), token, "", "")->status,
        204);
    EXPECT_EQ(bodyOf(get(meetingPath(0, "/sharing"), token))["links"], Json::array());

    service.setMeetingAccess(ids[0], StandinAccess{"viewer", "share", {{"edit", false}, {"share", false}}});
    EXPECT_EQ(get(meetingPath(0, "/sharing"), token)->status, 403);
    EXPECT_EQ(send("PATCH", meetingPath(0), token, Json{{"title", "x"}})->status, 403);
    EXPECT_EQ(bodyOf(get(meetingPath(0), token))["access"],
              (Json{{"role", "viewer"}, {"via", "share"}, {"can", {{"edit", false}, {"share", false}}}}));
}

TEST_F(StandinLibraryTest, RetentionSettings) {
    const Json initial = bodyOf(get("/api/settings", token));
    EXPECT_EQ(initial["retention_days"], 30);
    EXPECT_EQ(initial["retention_choices"], (Json::array({7, 30, 90, 365})));
    EXPECT_EQ(send("PUT", "/api/settings", token, Json{{"retention_days", 90}})->status, 200);
    EXPECT_EQ(bodyOf(get("/api/settings", token))["retention_days"], 90);
    EXPECT_EQ(errorCode(send("PUT", "/api/settings", token, Json{{"retention_days", 60}})),
              "invalid_retention");
    EXPECT_EQ(errorCode(send("PUT", "/api/settings", token, Json{{"retention_days", 90.5}})),
              "invalid_request");
}

TEST_F(StandinLibraryTest, AudioDownloadWithContentTypes) {
    auto sample = get(meetingPath(0, "/audio"), token);
    ASSERT_EQ(sample->status, 200);
    EXPECT_EQ(sample->get_header_value("Content-Type"), "audio/wav");
    EXPECT_EQ(sample->body.rfind("RIFF", 0), 0u);
    EXPECT_EQ(sample->body, service.storedAudio(ids[0]));

    // An uploaded meeting plays back the bytes that were uploaded.
    const std::string created = bodyOf(send("POST", "/api/meetings", token,
                                            Json{{"attendees", Json::array()},
                                                 {"recorded_at", "2024-05-01T09:30:00Z"},
                                                 {"duration_seconds", 3.0},
                                                 {"consent", true},
                                                 {"ai_notes", false},
                                                 {"locale", "en"},
                                                 {"time_zone", "UTC"}}))["id"];
    EXPECT_EQ(errorCode(get("/api/meetings/" + created + "/audio", token)), "audio_unavailable");
    ASSERT_EQ(
        sendRaw("PUT", "/api/meetings/" + created + "/audio/0", token, "m4a bytes", "audio/mp4")->status,
        204);
    ASSERT_EQ(send("POST", "/api/meetings/" + created + "/commit", token,
                   Json{{"parts", 1}, {"sha256", sha256Hex("m4a bytes")}})
                  ->status,
              200);
    auto uploaded = get("/api/meetings/" + created + "/audio", token);
    EXPECT_EQ(uploaded->get_header_value("Content-Type"), "audio/mp4");
    EXPECT_EQ(uploaded->body, "m4a bytes");

    service.setAudioDeleted(ids[0], true);
    EXPECT_EQ(errorCode(get(meetingPath(0, "/audio"), token)), "audio_expired");
    EXPECT_EQ(bodyOf(get(meetingPath(0), token))["audio_deleted"], true);
    EXPECT_EQ(bodyOf(get(meetingPath(0), token))["access"]["can"]["audio"], false);
    EXPECT_EQ(get(meetingPath(0, "/audio"), "nvt_unknown")->status, 401);
}

TEST_F(StandinLibraryTest, WorkspaceMembersSeeSharedMeetingsWithMemberRights) {
    const std::vector<std::string> team =
        service.seedMeetings(1, StandinService::defaultAccountId, std::string("ws_team"));
    StandinAccount colleague;
    colleague.id = "acct_colleague";
    colleague.email = "colleague@nuvel.test";
    colleague.workspaces = {StandinWorkspace{"ws_team", "team", "Team"}};
    colleague.defaultWorkspaceId = "ws_team";
    service.putAccount(colleague);
    const std::string other = service.issueToken("acct_colleague");

    const Json page = bodyOf(get("/api/meetings?workspace_id=ws_team&limit=50", other));
    ASSERT_EQ(page["meetings"].size(), 1u);
    EXPECT_EQ(page["meetings"][0]["access"]["role"], "member");
    EXPECT_EQ(page["meetings"][0]["access"]["can"]["delete"], false);
    EXPECT_EQ(sendRaw("DELETE", "/api/meetings/" + team[0], other, "", "")->status, 403);
    EXPECT_EQ(get(meetingPath(0), other)->status, 404); // a personal meeting of someone else
}

} // namespace
} // namespace nuvel::test
