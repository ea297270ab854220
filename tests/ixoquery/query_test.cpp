// Query and suggestion requests: bytes on the wire, the parameter builders' edge
// cases, the file and buffer forms, batches, hit counts, sections and the generic
// query call with its cache.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "ixo.h"
#include "ixo/ixoquery.h"
#include "support/strutil.h"
#include "tests/common/loopback_server.h"
#include "tests/common/tempdir.h"

namespace {

using testing_support::LoopbackServer;

const char* const kFullReply =
    "numhits=2\ntotalhits=57\n"
    "Doc_name=http://a.example/1\nURL_title=Apples\nDoc_id=11\nDoc_weight=87\nlinks=\ndbase=0\n"
    "Doc_name=http://a.example/2\nURL_title=Pears\nDoc_id=12\nDoc_weight=40\nlinks=\ndbase=1\n"
    "author=someone\n";

const char* const kWireExample =
    "GET /qmethod=E&querytext=apple+pear+&qnum=6&idnum=0&fromdate=-1&todate=0&attachto=-1 "
    "HTTP/1.0\r\nPragma: No-Cache\r\n\r\n";

class QueryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_.setReply(LoopbackServer::httpReply(kFullReply));
        ASSERT_EQ(ixoCreateIxo(&ixo_, "127.0.0.1", nullptr, server_.port(), server_.port() + 1), 1);
    }
    void TearDown() override { ixoDestroyIxo(&ixo_); }

    // The request path of the last request (between "GET " and " HTTP/1.0").
    std::string lastPath() const {
        const std::string raw = server_.lastRequest();
        const size_t start = raw.find(' ') + 1;
        return raw.substr(start, raw.find(" HTTP/1.0") - start);
    }

    LoopbackServer server_;
    IXO ixo_{};
    IxoQueryResult result_{};
};

TEST_F(QueryTest, SuggestionRequestOnTheWire) {
    ASSERT_EQ(ixoSuggestOnTextToStructure(&ixo_, "pear, apple; the apple.", "", "", "", "", 6, 0, 0,
                                          0, &result_),
              1);
    EXPECT_EQ(server_.lastRequest(), kWireExample);
    ASSERT_EQ(result_.hitCount, 2);
    EXPECT_STREQ(result_.records[0].title, "Apples");
    EXPECT_EQ(result_.records[0].docId, 11);  // parsed in full form
    EXPECT_EQ(result_.records[1].fieldCount, 1);
    ixoDestroyQueryResult(&result_);

    // Scrambled: the whole path becomes "/HLVN" + Base64 of a "%06d" checksum and the
    // path XORed with the request key.
    ASSERT_EQ(ixoSetEncryption(&ixo_, 1, nullptr), 1);
    ASSERT_EQ(
        ixoSuggestOnTextToStructure(&ixo_, "apple pear", "", "", "", "", 6, 0, 0, 0, &result_), 1);
    const std::string raw = server_.lastRequest();
    ASSERT_EQ(raw.rfind("GET /HLVN", 0), 0u) << raw;
    const std::string tail = " HTTP/1.0\r\nPragma: No-Cache\r\n\r\n";
    ASSERT_EQ(raw.substr(raw.size() - tail.size()), tail);
    const std::string encoded = raw.substr(9, raw.size() - tail.size() - 9);
    int32_t length = 0;
    unsigned char* decoded = strBase64Decode(encoded.c_str(), &length);
    ASSERT_NE(decoded, nullptr);
    const std::string path =
        "/qmethod=E&querytext=apple+pear+&qnum=6&idnum=0&fromdate=-1&todate=0&attachto=-1";
    ASSERT_EQ(length, static_cast<int32_t>(path.size() + 6));
    int checksum = 0;
    std::string plain;
    for (char c : path) {
        checksum = (checksum + static_cast<signed char>(c)) % 999999;
    }
    for (int32_t i = 6; i < length; ++i) plain += static_cast<char>(decoded[i] ^ 0x5A);
    char digits[16];
    std::snprintf(digits, sizeof digits, "%06d", checksum);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(decoded), 6), digits);
    EXPECT_EQ(plain, path);
    memFree(decoded);
    ixoDestroyQueryResult(&result_);

    // A text of stop words only has nothing to ask.
    EXPECT_EQ(
        ixoSuggestOnTextToStructure(&ixo_, "the and of", "", "", "", "", 6, 0, 0, 0, &result_),
        IXO_ERR_MEMORY);
    EXPECT_EQ(
        ixoSuggestOnTextToStructure(&ixo_, "apple", nullptr, "", "", "", 6, 0, 0, 0, &result_),
        IXO_ERR_PARAMETER);
}

TEST(QueryBuilders, FieldsAndFieldBoolean) {
    using ixo_query::fieldsParameter;
    EXPECT_EQ(fieldsParameter("", "fieldA"), "");  // field-Boolean needs fields
    EXPECT_EQ(fieldsParameter("+fieldTITLE=x", ""), "&&fieldTITLE=x");
    EXPECT_EQ(fieldsParameter("fnameA=1+FIELDB=2+FName=3+other=4", ""),
              "&fnameA=1&FIELDB=2&FName=3+other=4");
    EXPECT_EQ(fieldsParameter("fieldA=1", "fieldA+AND+FieldB"), "&fieldA=1&fieldbool=A+AND+B");
    EXPECT_EQ(fieldsParameter("x", "fiefieldld"), "&x&fieldbool=");
    EXPECT_EQ(fieldsParameter("ends+", ""), "&ends+");
}

TEST(QueryBuilders, DatesAndDayValues) {
    using ixo_query::datesParameter;
    using ixo_query::dayValue;
    const std::time_t now = std::time(nullptr);
    EXPECT_EQ(datesParameter("", now), "&fromdate=-1&todate=0");
    EXPECT_EQ(datesParameter("to=5", now), "&fromdate=-1&todate=5");
    EXPECT_EQ(datesParameter("FROM=+30 To=-1", now), "&fromdate=30&todate=0");
    EXPECT_EQ(datesParameter("from=-7", now), "&fromdate=-7&todate=0");
    EXPECT_EQ(dayValue("99999999999999999999", now), INT32_MAX);
    EXPECT_EQ(dayValue("-99999999999999999999", now), INT32_MIN);
    EXPECT_EQ(dayValue("junk", now), 0);

    // Day/month/year: whole days from that date's local midnight; future dates -1.
    std::tm date{};
    date.tm_mday = 15;
    date.tm_mon = 5;
    date.tm_year = 2001 - 1900;
    date.tm_isdst = -1;
    const std::time_t midnight = std::mktime(&date);
    const std::time_t later = midnight + 10 * 86400 + 3600;
    EXPECT_EQ(dayValue("15/6/2001", later), 10);
    EXPECT_EQ(dayValue("15/6/101", later), 10);  // years up to 1900 are taken as offsets
    EXPECT_EQ(dayValue("16/6/2001", midnight), -1);
    EXPECT_EQ(datesParameter("from=15/6/2001 to=20/6/2001", later), "&fromdate=10&todate=5");
    EXPECT_EQ(datesParameter("to=30/6/2001", later), "&fromdate=-1&todate=0");
}

TEST(QueryBuilders, DatabasesOptionsAndExpansion) {
    using ixo_query::databasesParameter;
    using ixo_query::expandTerms;
    using ixo_query::optionsParameter;
    EXPECT_EQ(databasesParameter(""), "&attachto=-1");
    EXPECT_EQ(databasesParameter("unknown"), "&attachto=-1");
    EXPECT_EQ(databasesParameter("Names=web,news"), "&attachtoname=web,news");
    EXPECT_EQ(databasesParameter("names=web numbers=1,2"), "&attachto=1,2");
    // A blank would end the request line; the value stops there.
    EXPECT_EQ(databasesParameter("numbers=3 names=web"), "&attachto=3");

    EXPECT_EQ(optionsParameter("", 0, 0, 1, 0), "");
    EXPECT_EQ(optionsParameter("", 1, 1, 0, 8 | 16 | 32),
              "&xoptions=withsummary+useurl+include+boolean+full+sortdate+");
    EXPECT_EQ(optionsParameter("start5", 0, 0, 1, 0), "&xoptions=start5+");
    EXPECT_EQ(optionsParameter("", 0, 0, 1, 4), "&xoptions=");

    EXPECT_EQ(expandTerms("apple"), "apple");
    EXPECT_EQ(expandTerms("a+b+c"), "a+b+ab+c+bc");
    EXPECT_EQ(expandTerms("a++b+"), "a+b+ab");
    // Longer than twice the input: must not be cut or overrun.
    std::string many;
    std::string expected;
    for (int i = 0; i < 50; ++i) {
        const std::string term = "t" + std::to_string(i);
        many += (i ? "+" : "") + term;
        expected += i ? "+" + term + "+t" + std::to_string(i - 1) + term : term;
    }
    EXPECT_EQ(expandTerms(many), expected);
}

TEST_F(QueryTest, QueryRequestsByMethod) {
    ASSERT_EQ(ixoSetUserParameters(&ixo_, "ann", "", "staff", nullptr), 1);
    struct Case {
        int32_t method;
        const char* query;
        int32_t num;
        const char* path;
    } cases[] = {
        {0, "apple+pear", 0,
         "/qmethod=q&querytext=apple+pear+QNUM=25&qnum=25&fromdate=-1&todate=0&attachto=-1"
         "&user=ann&group=staff"},
        {1, "apple", 7,
         "/qmethod=F&querytext=apple+QNUM=7&qnum=7&fromdate=-1&todate=0&attachto=-1&user=ann"
         "&group=staff"},
        {2, "a+b+c", 3,
         "/qmethod=q&querytext=a+b+ab+c+bc+QNUM=3&qnum=3&fromdate=-1&todate=0&attachto=-1"
         "&user=ann&group=staff"},
        {3 | 8, "x", 3,
         "/qmethod=g&querytext=x&xoptions=boolean+&fromdate=-1&todate=0&attachto=-1&user=ann"
         "&group=staff"},
        {0, "x&xoptions=parse", -4,
         "/qmethod=q&querytext=x+QNUM=25&qnum=25&xoptions=parse+&fromdate=-1&todate=0"
         "&attachto=-1&user=ann&group=staff"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ASSERT_EQ(ixoDoQueryToStructure(&ixo_, c.method, c.query, "", "", "", "", c.num, 1, 0, 0,
                                        &result_),
                  1);
        EXPECT_EQ(lastPath(), c.path);
        ixoDestroyQueryResult(&result_);
    }

    // All builders in their order: fields, document number, options, dates, databases.
    ASSERT_EQ(ixoDoQueryToStructure(&ixo_, 0, "apple", "+fieldA=1", "fieldA", "names=web", "to=3",
                                    5, 1, 42, 1, &result_),
              1);
    EXPECT_EQ(lastPath(),
              "/qmethod=q&querytext=apple+QNUM=5&qnum=5&&fieldA=1&fieldbool=A&idnum=42"
              "&xoptions=withsummary+&fromdate=-1&todate=3&attachtoname=web&user=ann&group=staff");
    ixoDestroyQueryResult(&result_);

    // Short form: the reply is reduced before parsing.
    ASSERT_EQ(ixoDoQueryToStructure(&ixo_, 0, "apple", "", "", "", "", 5, 0, 0, 0, &result_), 1);
    ASSERT_EQ(result_.hitCount, 2);
    EXPECT_EQ(result_.records[1].weight, 40);
    EXPECT_EQ(result_.records[1].docId, 0);
    ixoDestroyQueryResult(&result_);

    EXPECT_EQ(ixoDoQueryToStructure(&ixo_, 0, "apple", "", "", nullptr, "", 5, 0, 0, 0, &result_),
              IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoDoQueryToStructure(&ixo_, 0, "apple", "", "", "", "", 5, 0, 0, 0, nullptr),
              IXO_ERR_PARAMETER);
}

TEST_F(QueryTest, RepliesWithoutHitsAndFailures) {
    server_.queueReply(LoopbackServer::httpReply("<html>not found</html>"));
    ASSERT_EQ(ixoDoQueryToStructure(&ixo_, 0, "apple", "", "", "", "", 5, 1, 0, 0, &result_), 1);
    EXPECT_EQ(result_.hitCount, 0);
    EXPECT_EQ(result_.text, nullptr);

    server_.queueReply(LoopbackServer::httpReply("Invalid Instruction\n"));
    EXPECT_EQ(ixoDoHttpQueryToStructure(&ixo_, "/qmethod=X&querytext=a", &result_),
              IXO_ERR_INSTRUCTION);
    EXPECT_EQ(ixoDoHttpQueryToStructure(&ixo_, "", &result_), IXO_ERR_MEMORY);

    ixoDestroyIxo(&ixo_);
    ASSERT_EQ(ixoCreateIxo(&ixo_, "127.0.0.1", nullptr, 1, 1), 1);  // nobody listens
    EXPECT_EQ(ixoDoQueryToStructure(&ixo_, 0, "apple", "", "", "", "", 5, 1, 0, 0, &result_),
              IXO_ERR_RETRIEVE);
    EXPECT_EQ(result_.hitCount, 0);
}

TEST_F(QueryTest, StructureCallsUseTheCacheRawCallsDoNot) {
    ASSERT_EQ(ixoSetClientCache(&ixo_, 10, 600, IXO_CACHE_AGENT_MODE), 1);
    ASSERT_EQ(
        ixoDoHttpQueryToStructure(&ixo_, "/qmethod=q&querytext=pear+apple+QNUM=5&qnum=5", &result_),
        1);
    ixoDestroyQueryResult(&result_);
    ASSERT_EQ(ixoDoQueryToStructure(&ixo_, 0, "Apple+PEAR", "", "", "", "", 5, 1, 0, 0, &result_),
              1);
    ixoDestroyQueryResult(&result_);
    EXPECT_EQ(server_.requestCount(), 2u);  // different parameters: two entries

    ASSERT_EQ(ixoDoQueryToStructure(&ixo_, 0, "pear+apple", "", "", "", "", 5, 1, 0, 0, &result_),
              1);
    EXPECT_EQ(result_.hitCount, 2);
    ixoDestroyQueryResult(&result_);
    ASSERT_EQ(ixoSuggestMoreToStructure(&ixo_, 0, "a+b", "", "", "", "", 5, 0, 0, 1, &result_), 1);
    ixoDestroyQueryResult(&result_);
    ASSERT_EQ(ixoSuggestMoreToStructure(&ixo_, 0, "b+a", "", "", "", "", 5, 0, 0, 1, &result_), 1);
    ixoDestroyQueryResult(&result_);
    EXPECT_EQ(server_.requestCount(), 3u);
    EXPECT_EQ(ixoGetClientCacheSize(&ixo_), 3);

    char buffer[64];
    ASSERT_EQ(ixoDoQueryToBuffer(&ixo_, 0, "pear+apple", "", "", "", "", 5, 1, 0, 0, buffer,
                                 sizeof buffer),
              1);
    EXPECT_EQ(server_.requestCount(), 4u);
}

TEST_F(QueryTest, BufferFormsStayInsideTheBuffer) {
    // A guard area after the part handed over must stay untouched.
    std::vector<char> memory(64, '#');
    ASSERT_EQ(ixoDoQueryToBuffer(&ixo_, 0, "apple", "", "", "", "", 5, 1, 0, 0, memory.data(), 10),
              1);
    EXPECT_EQ(std::string(memory.data()), std::string(kFullReply).substr(0, 9));
    for (size_t i = 10; i < memory.size(); ++i) ASSERT_EQ(memory[i], '#') << i;

    // Short form: only names, titles, weights and the hit count are kept.
    char buffer[4096];
    ASSERT_EQ(
        ixoDoQueryToBuffer(&ixo_, 0, "apple", "", "", "", "", 5, 0, 0, 0, buffer, sizeof buffer),
        1);
    EXPECT_STREQ(buffer,
                 "numhits=2\nDoc_name=http://a.example/1\nURL_title=Apples\nDoc_weight=87\n"
                 "Doc_name=http://a.example/2\nURL_title=Pears\nDoc_weight=40\n");

    std::fill(memory.begin(), memory.end(), '#');
    ASSERT_EQ(ixoSuggestMoreToBuffer(&ixo_, 1, "a+b", "", "", "", "", 3, 0, 0, 0, memory.data(), 1),
              1);
    EXPECT_EQ(memory[0], '\0');
    EXPECT_EQ(memory[1], '#');
    EXPECT_EQ(lastPath(),
              "/qmethod=s&querytext=a+b+QNUM=3&qnum=3&xoptions=useurl+include+&fromdate=-1"
              "&todate=0&attachto=-1");
    EXPECT_EQ(ixoSuggestMoreToBuffer(&ixo_, 1, "a+b", "", "", "", "", 3, 0, 0, 0, buffer, 0),
              IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoDoQueryToBuffer(&ixo_, 0, "a", "", "", "", "", 3, 0, 0, 0, nullptr, 10),
              IXO_ERR_PARAMETER);
}

TEST_F(QueryTest, FileForms) {
    testing_support::TempDir dir;
    const std::string file = dir.file("reply.txt");
    ASSERT_EQ(ixoDoQueryToFile(&ixo_, 0, "apple", "", "", "", "", 5, 0, 0, 0, file.c_str()), 1);
    EXPECT_EQ(testing_support::readWholeFile(file),
              "numhits=2\nDoc_name=http://a.example/1\nURL_title=Apples\nDoc_weight=87\n"
              "Doc_name=http://a.example/2\nURL_title=Pears\nDoc_weight=40\n");
    ASSERT_EQ(ixoSuggestMoreToFile(&ixo_, 0, "a", "", "", "", "", 5, 0, 0, 1, file.c_str()), 1);
    EXPECT_EQ(testing_support::readWholeFile(file), kFullReply);
}

TEST_F(QueryTest, BatchesCountsAndSections) {
    const int32_t docs[] = {3, 4};
    int32_t total = -1;
    ASSERT_EQ(ixoDoBatchQueryToStructure(&ixo_, 0, "apple", "", "", "", "", 10, 5, 1, docs, 2, 1, 0,
                                         0, &result_, &total),
              1);
    EXPECT_EQ(lastPath(),
              "/qmethod=q&querytext=apple&onlymatch=3+4++QNUM=15&qnum=15"
              "&xoptions=start10+inchitcount+&fromdate=-1&todate=0&attachto=-1");
    EXPECT_EQ(total, 57);
    EXPECT_EQ(result_.hitCount, 2);
    ixoDestroyQueryResult(&result_);

    // The short form drops the "totalhits=" line; the total is read before that.
    total = -1;
    ASSERT_EQ(ixoDoBatchQueryToStructure(&ixo_, 0, "apple", "", "", "", "", 10, 5, 0, docs, 2, 1, 0,
                                         0, &result_, &total),
              1);
    EXPECT_EQ(total, 57);
    EXPECT_EQ(result_.hitCount, 2);
    ixoDestroyQueryResult(&result_);

    server_.queueReply(LoopbackServer::httpReply(
        "numhits=1\nDoc_name=r\nURL_title=t\nDoc_id=1\nDoc_weight=2\nlinks=\ndbase=0\n"));
    ASSERT_EQ(ixoDoBatchSuggestToStructure(&ixo_, 0, "a+b", "", "", "", "", 0, 20, nullptr, 0, 0, 0,
                                           0, &result_, &total),
              1);
    EXPECT_EQ(lastPath(),
              "/qmethod=s&querytext=a+b&xoptions=start0+QNUM=20&qnum=20&fromdate=-1&todate=0"
              "&attachto=-1");
    EXPECT_EQ(total, 0);
    ixoDestroyQueryResult(&result_);
    EXPECT_EQ(ixoDoBatchSuggestToStructure(&ixo_, 0, "a", "", "", "", "", 0, 20, nullptr, 2, 0, 0,
                                           0, &result_, &total),
              IXO_ERR_PARAMETER);

    server_.queueReply(LoopbackServer::httpReply("numhits=4242\n"));
    int32_t hits = -1;
    ASSERT_EQ(ixoGetNumHitsForQuery(&ixo_, 0, "apple", "", "", "", "", &hits), 1);
    EXPECT_EQ(hits, 4242);
    EXPECT_EQ(lastPath(),
              "/qmethod=q&querytext=apple+QNUM=25&qnum=25&xoptions=counthits+&fromdate=-1"
              "&todate=0&attachto=-1");

    ASSERT_EQ(
        ixoGetSectionsToStructure(&ixo_, "http://x.example/doc;1", "numbers=2", 1, 0, &result_), 1);
    EXPECT_EQ(lastPath(),
              "/qmethod=q&querytext=http://x.example/doc+1+QNUM=9999&qnum=9999"
              "&fnameIXOREFERENCE=http://x.example/doc;1&fromdate=-1&todate=0&attachto=2");
    ixoDestroyQueryResult(&result_);
}

}  // namespace
