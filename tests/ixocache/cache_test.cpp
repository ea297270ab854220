// The client result cache: key normalisation, literal keys, expiry, replacement
// order, capacity 0, set-up twice, and many threads querying one handle.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ixo.h"
#include "ixo/ixocache.h"
#include "tests/common/loopback_server.h"

namespace {

using testing_support::LoopbackServer;

// A clock the tests move by hand.
std::atomic<int32_t> g_now{1000000};
int32_t fakeNow() {
    return g_now.load();
}

class CacheTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_now = 1000000;
        ixo_cache::setClock(fakeNow);
        ASSERT_EQ(ixoCreateIxo(&ixo_, "127.0.0.1", nullptr, 1, 2), 1);
    }
    void TearDown() override {
        ixoDestroyIxo(&ixo_);
        ixo_cache::setClock(nullptr);
    }

    // The reply stored for request, or "" on a miss.
    std::string lookup(const std::string& request) {
        char* reply = nullptr;
        if (ixoCacheLookup(&ixo_, request.c_str(), &reply) != 1) {
            EXPECT_EQ(reply, nullptr);
            return "";
        }
        std::string out(reply);
        memFree(reply);
        return out;
    }
    void store(const std::string& request, const std::string& reply) {
        ASSERT_EQ(ixoCacheStore(&ixo_, request.c_str(), reply.c_str()), 1);
    }

    IXO ixo_{};
};

std::string suggestion(const std::string& terms) {
    return "/qmethod=E&querytext=" + terms + "&qnum=6&idnum=0&fromdate=-1&todate=0&attachto=-1";
}
std::string query(const std::string& terms, const std::string& tail = "&attachto=-1") {
    return "/qmethod=q&querytext=" + terms + "+QNUM=25&qnum=25" + tail;
}

std::string key(const std::string& request, int32_t mode = IXO_CACHE_AGENT_MODE) {
    return ixo_cache::makeKey(request, mode);
}

TEST(CacheKey, AgentModeNormalisesOrderCaseDuplicatesAndStems) {
    const std::string expected = key(suggestion("apple+pear"));
    EXPECT_EQ(key(suggestion("pear+apple+APPLE")), expected);
    EXPECT_EQ(key(suggestion("Pear+apple")), expected);
    EXPECT_EQ(key(suggestion("pear apple")), expected);
    // Stop words and stems, as the server makes its terms.
    EXPECT_EQ(key(query("apples+the+apple"), IXO_CACHE_WORDFILTER | IXO_CACHE_SORT),
              key(query("apple"), IXO_CACHE_WORDFILTER | IXO_CACHE_SORT));
    EXPECT_EQ(key(query("pear+apple")), key(query("APPLE+pear")));
    // Other parameters still tell requests apart.
    EXPECT_NE(key(query("apple+pear", "&attachto=3")), key(query("apple+pear", "&attachto=4")));
}

TEST(CacheKey, RequestsTheServerReadsDifferentlyNeverShareAKey) {
    // Numbers, terms with digits and one-character terms are terms the server searches
    // for; no key mode drops them.
    for (int32_t mode : {IXO_CACHE_AGENT_MODE, IXO_CACHE_SORT | IXO_CACHE_NO_NUMBERS,
                         IXO_CACHE_NO_DIGITS, IXO_CACHE_NO_SHORT | IXO_CACHE_NO_PARAMETERS}) {
        SCOPED_TRACE(mode);
        EXPECT_NE(key(query("apple+1999"), mode), key(query("apple+2001"), mode));
        EXPECT_NE(key(query("apple+b52"), mode), key(query("apple+b17"), mode));
        EXPECT_NE(key(query("apple+x"), mode), key(query("apple+y"), mode));
        EXPECT_NE(key(query("apple+x"), mode), key(query("apple"), mode));
        // A terms request names its documents by number in the query text.
        EXPECT_NE(key("/qmethod=t&querytext=12+&idnum=20&xoptions=tweights", mode),
                  key("/qmethod=t&querytext=99+&idnum=20&xoptions=tweights", mode));
        // Every parameter stays, also with the bit that once dropped them.
        EXPECT_NE(key(query("apple", "&attachto=3"), mode),
                  key(query("apple", "&attachto=4"), mode));
    }
    // Long words are compared whole.
    EXPECT_NE(key(query("abcdefghijklmnopqrstuvwxyz")), key(query("abcdefghijklmnopqrstXXX")));
    // Punctuation, escapes and accented letters: the server reads these otherwise than
    // a split at them would, so the terms are kept as sent.
    EXPECT_NE(key(query("ab.cd")), key(query("cd+ab")));
    EXPECT_NE(key(query("%41PPLE")), key(query("41PPLE")));
    EXPECT_NE(key(query("caf\xe9")), key(query("caf")));
    // The terms cannot run into the parameters that follow them.
    EXPECT_NE(key("/qmethod=q&querytext=APPLE&x=1"), key("/qmethod=q&querytext=1APPLE&x="));
}

TEST(CacheKey, LiteralKeys) {
    const int32_t mode = IXO_CACHE_AGENT_MODE;
    // Mode 0, operators, grouping and "parse" key the request as sent.
    EXPECT_NE(key(query("Pear+apple"), 0), key(query("apple+Pear"), 0));
    for (const std::string terms :
         {"apple+AND+pear", "apple+NEAR+pear", "(apple+pear)", "\"apple+pear\"", "apple+[pear]"}) {
        SCOPED_TRACE(terms);
        EXPECT_EQ(key(query(terms), mode), key(query(terms), 0));
    }
    EXPECT_NE(key(query("apple+AND+pear"), mode), key(query("pear+AND+apple"), mode));
    EXPECT_NE(key(query("b+a", "&xoptions=parse+"), mode),
              key(query("a+b", "&xoptions=parse+"), mode));
    // Requests without a query text, or without "/qmethod=".
    EXPECT_EQ(key("/qmethod=V", mode), key("V", mode));
    EXPECT_NE(key("plain", mode), key("plain2", mode));
    // Parameters placed before "+QNUM" stay literal: restricted pages with other
    // document numbers must not share an entry.
    EXPECT_NE(key(query("apple&onlymatch=11+12+&xoptions=start0"), mode),
              key(query("apple&onlymatch=11+13+&xoptions=start0"), mode));
    EXPECT_NE(key(query("apple&xoptions=start0"), mode),
              key(query("apple&xoptions=start20"), mode));
}

TEST_F(CacheTest, HitsReplyUnderNormalisedKey) {
    EXPECT_EQ(ixoGetClientCacheSize(&ixo_), 0);
    EXPECT_EQ(ixoGetClientCacheTime(&ixo_), 0);
    EXPECT_EQ(lookup(suggestion("apple+pear")), "");
    EXPECT_EQ(ixoCacheStore(&ixo_, "x", "y"), IXO_ERR_PARAMETER);

    ASSERT_EQ(ixoSetClientCache(&ixo_, 4, 60, IXO_CACHE_AGENT_MODE), 1);
    EXPECT_EQ(ixoGetClientCacheTime(&ixo_), 60);
    store(suggestion("pear+apple+APPLE"), "numhits=1\n");
    EXPECT_EQ(ixoGetClientCacheSize(&ixo_), 1);
    EXPECT_EQ(lookup(suggestion("apple+pear")), "numhits=1\n");
    EXPECT_EQ(lookup(suggestion("apple+plum")), "");
    // A second store of the same key takes a second slot; the later one answers.
    store(suggestion("apple+pear"), "numhits=2\n");
    EXPECT_EQ(ixoGetClientCacheSize(&ixo_), 2);
    EXPECT_EQ(lookup(suggestion("pear+apple")), "numhits=2\n");
}

TEST_F(CacheTest, ExpiredEntriesMissAndAreReplacedFirst) {
    ASSERT_EQ(ixoSetClientCache(&ixo_, 2, 10, IXO_CACHE_AGENT_MODE), 1);
    store(query("old"), "old");
    g_now += 5;
    store(query("young"), "young");
    g_now += 4;  // old is 9 s old
    EXPECT_EQ(lookup(query("old")), "old");
    EXPECT_EQ(lookup(query("old")), "old");
    g_now += 1;  // old reaches the lifetime despite its hits
    EXPECT_EQ(lookup(query("old")), "");
    EXPECT_EQ(lookup(query("young")), "young");
    store(query("new"), "new");
    EXPECT_EQ(lookup(query("young")), "young");
    EXPECT_EQ(lookup(query("new")), "new");
    EXPECT_EQ(ixoGetClientCacheSize(&ixo_), 2);

    // A lifetime of 0 never answers.
    ASSERT_EQ(ixoSetClientCache(&ixo_, 2, 0, IXO_CACHE_AGENT_MODE), 1);
    store(query("alpha"), "a");
    EXPECT_EQ(lookup(query("alpha")), "");
}

TEST_F(CacheTest, ReplacesFewestHitsThenEarliest) {
    ASSERT_EQ(ixoSetClientCache(&ixo_, 2, 100, IXO_CACHE_AGENT_MODE), 1);
    store(query("xray"), "X");
    g_now += 1;
    store(query("yankee"), "Y");
    EXPECT_EQ(lookup(query("xray")), "X");
    EXPECT_EQ(lookup(query("xray")), "X");
    g_now += 1;
    store(query("zulu"), "Z");
    EXPECT_EQ(lookup(query("yankee")), "");
    EXPECT_EQ(lookup(query("xray")), "X");
    EXPECT_EQ(lookup(query("zulu")), "Z");

    // Equal hits: the earliest stored goes.
    ASSERT_EQ(ixoSetClientCache(&ixo_, 2, 100, IXO_CACHE_AGENT_MODE), 1);
    store(query("first"), "1");
    g_now += 1;
    store(query("second"), "2");
    g_now += 1;
    store(query("third"), "3");
    EXPECT_EQ(lookup(query("first")), "");
    EXPECT_EQ(lookup(query("second")), "2");
    EXPECT_EQ(lookup(query("third")), "3");
}

TEST_F(CacheTest, CapacityZeroNeverStoresNorHits) {
    ASSERT_EQ(ixoSetClientCache(&ixo_, 0, 100, IXO_CACHE_AGENT_MODE), 1);
    EXPECT_EQ(ixoCacheStore(&ixo_, query("alpha").c_str(), "a"), IXO_ERR_PARAMETER);
    EXPECT_EQ(lookup(query("alpha")), "");
    EXPECT_EQ(ixoGetClientCacheSize(&ixo_), 0);
    EXPECT_EQ(ixoSetClientCache(&ixo_, -1, 100, 0), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoSetClientCache(nullptr, 1, 100, 0), IXO_ERR_PARAMETER);
}

TEST_F(CacheTest, SettingUpAgainReleasesTheOldCache) {
    // The leak checker of the sanitizer build watches the first cache's slots.
    ASSERT_EQ(ixoSetClientCache(&ixo_, 3, 100, IXO_CACHE_AGENT_MODE), 1);
    store(query("alpha"), std::string(1000, 'a'));
    store(query("bravo"), std::string(1000, 'b'));
    IxoCacheLock* lock = ixo_.cacheLock;
    ASSERT_EQ(ixoSetClientCache(&ixo_, 5, 30, 0), 1);
    EXPECT_EQ(ixo_.cacheLock, lock);
    EXPECT_EQ(ixoGetClientCacheSize(&ixo_), 0);
    EXPECT_EQ(ixoGetClientCacheTime(&ixo_), 30);
    EXPECT_EQ(lookup(query("alpha")), "");

    ixoDestroyIxo(&ixo_);
    EXPECT_EQ(ixo_.clientCache, nullptr);
    EXPECT_EQ(ixo_.cacheLock, nullptr);
    EXPECT_EQ(ixoGetClientCacheSize(&ixo_), 0);
}

// The reply the stress server gives for a query: its terms become the title, so a
// reply handed to the wrong query shows.
std::string replyFor(const std::string& request) {
    const size_t start = request.find("querytext=") + 10;
    const size_t end = request.find("+QNUM", start);
    const std::string terms = request.substr(start, end - start);
    return LoopbackServer::httpReply("numhits=1\nDoc_name=ref-" + terms + "\nURL_title=" + terms +
                                     "\nDoc_id=1\nDoc_weight=50\nlinks=\ndbase=0\n");
}

// Through the agent's key mode, requests that differ only in a number or a document
// number each reach the server and get their own reply.
TEST(CacheOnTheWire, NumbersAndDocumentNumbersAreAskedSeparately) {
    ixo_cache::setClock(nullptr);
    LoopbackServer server;
    server.setHandler(replyFor);
    IXO ixo{};
    ASSERT_EQ(ixoCreateIxo(&ixo, "127.0.0.1", nullptr, server.port(), server.port()), 1);
    ASSERT_EQ(ixoSetClientCache(&ixo, 8, 600, IXO_CACHE_AGENT_MODE), 1);
    for (const char* terms : {"apple+1999", "apple+2001", "apple+1999"}) {
        IxoQueryResult result{};
        ASSERT_EQ(ixoDoQueryToStructure(&ixo, 0, terms, "", "", "", "", 10, 1, 0, 0, &result), 1);
        ASSERT_EQ(result.hitCount, 1);
        EXPECT_STREQ(result.records[0].title, terms);
        ixoDestroyQueryResult(&result);
    }
    EXPECT_EQ(server.requestCount(), 2u);  // the repeated query came from the cache

    server.setHandler([](const std::string& request) {
        const bool twelve = request.find("querytext=12+") != std::string::npos;
        return LoopbackServer::httpReply(twelve ? "Number of hits: 1\nTWELVE+1\n"
                                                : "Number of hits: 1\nNINETYNINE+1\n");
    });
    for (const char* doc : {"12+", "99+"}) {
        IxoTermList terms{};
        ASSERT_EQ(ixoGetTermsToStructure(&ixo, doc, 20, 1, 0, &terms), 1);
        ASSERT_GE(terms.count, 1);
        EXPECT_STREQ(terms.terms[0].term, doc[0] == '1' ? "TWELVE" : "NINETYNINE");
        ixoDestroyTermList(&terms);
    }
    ixoDestroyIxo(&ixo);
}

TEST(CacheThreads, ManyThreadsShareOneHandle) {
    ixo_cache::setClock(nullptr);
    LoopbackServer server;
    server.setHandler(replyFor);
    IXO ixo{};
    ASSERT_EQ(ixoCreateIxo(&ixo, "127.0.0.1", nullptr, server.port(), server.port()), 1);
    // Fewer slots than distinct queries, so stores replace entries while others read.
    ASSERT_EQ(ixoSetClientCache(&ixo, 6, 600, IXO_CACHE_AGENT_MODE), 1);

    constexpr int kThreads = 8;
    constexpr int kQueries = 60;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kQueries; ++i) {
                const std::string terms =
                    "term" + std::string(1, static_cast<char>('a' + (i * 7 + t) % 10));
                IxoQueryResult result{};
                const int32_t rc = ixoDoQueryToStructure(&ixo, 0, terms.c_str(), "", "", "", "", 10,
                                                         1, 0, 0, &result);
                if (rc != 1 || result.hitCount != 1 ||
                    std::strcmp(result.records[0].title, terms.c_str()) != 0) {
                    ++failures;
                }
                ixoDestroyQueryResult(&result);
                if (i % 10 == 0) ixoGetClientCacheSize(&ixo);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(ixoGetClientCacheSize(&ixo), 6);
    // The cache answered part of the queries.
    EXPECT_LT(server.requestCount(), static_cast<size_t>(kThreads * kQueries));
    ixoDestroyIxo(&ixo);
}

}  // namespace
