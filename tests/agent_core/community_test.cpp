// The community source against a real ixoserver: contributing, the hour between
// contributions, and withdrawing every document of the user.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

#include "agent/AppParameters.h"
#include "agent/community.h"
#include "agent/profiling.h"
#include "agent_test_support.h"
#include "ixo.h"
#include "tests/common/tempdir.h"

using namespace agent;
using namespace std::chrono_literals;

namespace {

// Three categories, each with terms of its own.
UserProfile communityProfile() {
    UserProfile p = profileCreate(3, 200, 1500);
    const char* words[3][2] = {{"ZEBRA", "GIRAFFE"}, {"OBOE", "BASSOON"}, {"QUARTZ", "BASALT"}};
    for (int k = 0; k < 3; ++k)
        for (const char* w : words[k]) p.categories[k].terms.push_back({500, w});
    return p;
}

class CommunityTest : public ::testing::Test {
  protected:
    void SetUp() override {
#ifndef IXOSERVER_BIN
        GTEST_SKIP() << "ixoserver is not built";
#endif
        server = std::make_unique<agent_test::ServerProcess>(dir.path() / "server");
        ASSERT_TRUE(server->running());
        ASSERT_TRUE(settings.OpenExtended(dir.file("Extended.cfg")));
        settings.ExtSetFlag("SHOWCOMMUNITY", true);
        settings.ExtSetFlag("COMMUNITYSHOWME", true);
        settings.ExtSetText("COMMUNITYIXO", "127.0.0.1");
        settings.ExtSetNumber("COMMUNITYQUERYPORT", server->queryPort);
        settings.ExtSetNumber("COMMUNITYINDEXPORT", server->indexPort);
        settings.SetUsername("ann");
        settings.SetEmailAddress("ann@example.org");
    }

    // The references of the documents the server finds for all the profile's terms,
    // once its index has caught up (waits until want holds, or a few seconds).
    std::set<std::string> onServer(const std::set<std::string>& want) {
        std::set<std::string> refs;
        for (int attempt = 0; attempt < 30; ++attempt) {
            refs.clear();
            IXO ixo{};
            ixoCreateIxo(&ixo, "127.0.0.1", "127.0.0.1", server->queryPort, server->indexPort);
            IxoQueryResult r{};
            if (ixoDoQueryToStructure(&ixo, IXO_METHOD_QUERY,
                                      "ZEBRA+GIRAFFE+OBOE+BASSOON+QUARTZ+BASALT", "", "", "", "",
                                      50, 1, 0, 0, &r) == IXO_OK)
                for (int i = 0; i < r.hitCount; ++i) refs.insert(r.records[i].name);
            ixoDestroyQueryResult(&r);
            ixoDestroyIxo(&ixo);
            if (refs == want) break;
            std::this_thread::sleep_for(100ms);
        }
        return refs;
    }

    bool contribute(bool forced, int64_t now, uint32_t random) {
        bool sent =
            community.Contribute(forced, settings, &profile, false, true, now, random).has_value();
        EXPECT_TRUE(community.WaitIdle(30s));
        return sent;
    }

    testing_support::TempDir dir;
    agent_test::ScopedHives hives{dir.path()};
    std::unique_ptr<agent_test::ServerProcess> server;
    CAppParameters settings;
    UserProfile profile = communityProfile();
    CCommunity community;
};

}  // namespace

TEST_F(CommunityTest, ContributesOnceAnHourAndWithdrawsEverything) {
    // A name with the request's separators is withdrawn as exactly as it was indexed.
    settings.SetUsername("a&b+c%d");
    ASSERT_TRUE(contribute(false, 10000, 1));
    // Within the hour nothing is sent; forced: at once; an hour later: again. Contributing
    // a category again replaces its document.
    EXPECT_FALSE(contribute(false, 10000 + 3599, 2));
    EXPECT_TRUE(contribute(true, 10001, 2));
    EXPECT_TRUE(contribute(false, 10000 + 3600, 0));
    EXPECT_TRUE(contribute(true, 10002, 0));
    // Another user's document stays when this one withdraws.
    ASSERT_TRUE(
        server->index("#IXOREFERENCE bob-0\n#IXOTITLE bob\n#IXOCONTENT\nZEBRA OBOE\n#IXOENDDOC\n"));
    const std::set<std::string> all{"a&b+c%d-0", "a&b+c%d-1", "a&b+c%d-2", "bob-0"};
    ASSERT_EQ(onServer(all), all);

    settings.ExtSetFlag("COMMUNITYSHOWME", false);
    EXPECT_FALSE(contribute(false, 20000, 0));  // withdrawing needs the forced call
    EXPECT_TRUE(contribute(true, 20001, 0));
    EXPECT_EQ(onServer({"bob-0"}), std::set<std::string>{"bob-0"});
}

TEST_F(CommunityTest, DocumentAndTheCasesThatSendNothing) {
    settings.ExtSetText("COMMUNITYDISPLAYNAME", "Ann Smith");
    auto job = community.Contribute(true, settings, &profile, false, true, 1, 4, false);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->document,
              profileDocument(profile, 1, "ann-1", "Ann Smith", "ann@example.org", "Default"));

    // Not located, a user name the server would not keep as it is, or switched off: nothing.
    EXPECT_FALSE(community.Contribute(true, settings, &profile, false, false, 1, 0, false));
    for (const char* user : {"", "ann smith", "ann\nx"}) {
        settings.SetUsername(user);
        EXPECT_FALSE(community.Contribute(true, settings, &profile, false, true, 1, 0, false));
    }
    settings.SetUsername("ann");
    settings.ExtSetFlag("SHOWCOMMUNITY", false);
    EXPECT_FALSE(community.Contribute(true, settings, &profile, false, true, 1, 0, false));
}
