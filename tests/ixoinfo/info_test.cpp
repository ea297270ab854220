// Server information, term, document-id, summary, content and primitive requests: the
// information parser's defaults and lists, request paths, and replies read whole.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ixo.h"
#include "ixo/ixoinfo.h"
#include "tests/common/loopback_server.h"
#include "tests/common/tempdir.h"

namespace {

using testing_support::LoopbackServer;

std::string get(const std::string& path) {
    return "GET " + path + " HTTP/1.0\r\nPragma: No-Cache\r\n\r\n";
}

const char* const kInfoReply =
    "PRODUCT=Test server\nVERSION=2.1\nBUILD=Jan 1 2000\nDOCNUM=1234\nQUERYPORT=5001\n"
    "INDEXPORT=5002\nMAXDBASE=64\nNUM_FIELDS=3\nDIRECTORY=/srv/ixo\nNUM4TERMS=4\n"
    "STORECONTENT=0\nPROPERNAMES=1\nSLOT_SIZE=20\nMAXOC=7\nSTRIPLANGUAGE=1\nCHARCONV=1\n"
    "DATABASES=2[web,mail]\nDBINFO=2[web:(0,12),mail:(1,5)]\n";

struct InfoPtr {
    IxoServerInfo* info = nullptr;
    ~InfoPtr() {
        if (info) ixoDestroyInfoStructure(info);
    }
};

TEST(ServerInfo, EveryKeyRead) {
    InfoPtr p;
    ASSERT_EQ(ixoParseServerInfo(kInfoReply, &p.info), 1);
    const IxoServerInfo& i = *p.info;
    EXPECT_STREQ(i.product, "Test server");
    EXPECT_STREQ(i.version, "2.1");
    EXPECT_STREQ(i.build, "Jan 1 2000");
    EXPECT_STREQ(i.directory, "/srv/ixo");
    EXPECT_EQ(i.documentCount, 1234);
    EXPECT_EQ(i.queryPort, 5001);
    EXPECT_EQ(i.indexPort, 5002);
    EXPECT_EQ(i.maxDatabases, 64);
    EXPECT_EQ(i.numFields, 3);
    EXPECT_EQ(i.num4Terms, 4);
    EXPECT_EQ(i.storeContent, 0);
    EXPECT_EQ(i.properNames, 1);
    EXPECT_EQ(i.slotSize, 20);
    EXPECT_EQ(i.maxOccurrences, 7);
    EXPECT_EQ(i.stripLanguage, 1);
    EXPECT_EQ(i.charConversion, 1);
    ASSERT_EQ(i.databaseCount, 2);
    EXPECT_STREQ(i.databaseNames[0], "web");
    EXPECT_STREQ(i.databaseNames[1], "mail");
    ASSERT_EQ(i.dbInfoCount, 2);
    EXPECT_EQ(i.dbInfo[0].first, 0);
    EXPECT_EQ(i.dbInfo[0].second, 12);
    EXPECT_EQ(i.dbInfo[1].first, 1);
    EXPECT_EQ(i.dbInfo[1].second, 5);
    EXPECT_EQ(i.tail, nullptr);
}

TEST(ServerInfo, DefaultsAndShortLists) {
    InfoPtr p;
    ASSERT_EQ(ixoParseServerInfo("PRODUCT:x\r\nDATABASES=4[a,,c]\nDBINFO=3[a:(1,2)b:(3\n", &p.info),
              1);
    const IxoServerInfo& i = *p.info;
    EXPECT_STREQ(i.product, "x");  // any separator; carriage return dropped
    EXPECT_EQ(i.version, nullptr);
    EXPECT_EQ(i.build, nullptr);
    EXPECT_EQ(i.directory, nullptr);
    EXPECT_EQ(i.documentCount, 0);
    EXPECT_EQ(i.storeContent, 1);
    EXPECT_EQ(i.slotSize, 10);
    EXPECT_EQ(i.charConversion, 0);
    // A count larger than the names listed leaves the rest null.
    ASSERT_EQ(i.databaseCount, 4);
    EXPECT_STREQ(i.databaseNames[0], "a");
    EXPECT_STREQ(i.databaseNames[1], "");
    EXPECT_STREQ(i.databaseNames[2], "c");
    EXPECT_EQ(i.databaseNames[3], nullptr);
    // An incomplete entry gives nothing; the slots stay zero.
    ASSERT_EQ(i.dbInfoCount, 3);
    EXPECT_EQ(i.dbInfo[0].first, 1);
    EXPECT_EQ(i.dbInfo[0].second, 2);
    EXPECT_EQ(i.dbInfo[1].first, 0);
    EXPECT_EQ(i.dbInfo[2].second, 0);

    // More names than the count: only count are kept. Zero or negative counts: no list.
    InfoPtr q;
    ASSERT_EQ(ixoParseServerInfo("PRODUCT=p\nDATABASES=1[a,b]\nDBINFO=-3[a:(1,2)]", &q.info), 1);
    ASSERT_EQ(q.info->databaseCount, 1);
    EXPECT_STREQ(q.info->databaseNames[0], "a");
    EXPECT_EQ(q.info->dbInfoCount, 0);
    EXPECT_EQ(q.info->dbInfo, nullptr);

    // A hostile count is capped instead of allocating without bound.
    InfoPtr r;
    ASSERT_EQ(ixoParseServerInfo("PRODUCT=p\nDATABASES=2147483647[a]\n", &r.info), 1);
    EXPECT_EQ(r.info->databaseCount, IXO_INFO_MAX_DATABASES);
    EXPECT_STREQ(r.info->databaseNames[0], "a");
    EXPECT_EQ(r.info->databaseNames[IXO_INFO_MAX_DATABASES - 1], nullptr);
}

TEST(ServerInfo, KeysTailAndRejection) {
    InfoPtr p;
    // A key at the start of a line wins over the same word inside another value.
    ASSERT_EQ(
        ixoParseServerInfo("DIRECTORY=/x/DOCNUM=5\nPRODUCT=p\nDOCNUM=7\nINFO:\n[a]\n", &p.info), 1);
    EXPECT_EQ(p.info->documentCount, 7);
    EXPECT_STREQ(p.info->directory, "/x/DOCNUM=5");
    EXPECT_STREQ(p.info->tail, ":\n[a]\n");
    // Found anywhere when no line starts with it; a key at the very end has no value.
    InfoPtr q;
    ASSERT_EQ(ixoParseServerInfo("junk DOCNUM=3 PRODUCT", &q.info), 1);
    EXPECT_EQ(q.info->documentCount, 3);
    EXPECT_STREQ(q.info->product, "");

    IxoServerInfo* none = reinterpret_cast<IxoServerInfo*>(1);
    EXPECT_EQ(ixoParseServerInfo("VERSION=1\nDOCNUM=3\n", &none), -5);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(ixoParseServerInfo(nullptr, &none), -5);
    EXPECT_EQ(ixoDestroyInfoStructure(nullptr), -5);
}

class InfoRequestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_.setReply(LoopbackServer::httpReply(kInfoReply));
        ASSERT_EQ(ixoCreateIxo(&ixo_, "127.0.0.1", nullptr, server_.port(), server_.port() + 1), 1);
    }
    void TearDown() override { ixoDestroyIxo(&ixo_); }
    void reply(const std::string& body) { server_.setReply(LoopbackServer::httpReply(body)); }

    LoopbackServer server_;
    IXO ixo_{};
    char buffer_[128] = {};
};

TEST_F(InfoRequestTest, InformationAndConfiguration) {
    ixoSetUserParameters(&ixo_, "u", nullptr, nullptr, "d");
    InfoPtr p;
    ASSERT_EQ(ixoGetInfoToStructure(&ixo_, &p.info), 1);
    EXPECT_EQ(server_.lastRequest(), get("/qmethod=V&user=u&domain=d"));
    EXPECT_EQ(p.info->databaseCount, 2);

    ASSERT_EQ(ixoGetConfigurationToBuffer(&ixo_, buffer_, 12), 1);
    EXPECT_EQ(server_.lastRequest(), get("/qmethod=V"));
    EXPECT_STREQ(buffer_, "PRODUCT=Tes");

    // A reply without "PRODUCT" is rejected although the exchange succeeded.
    reply("<html>Not found</html>");
    IxoServerInfo* none = nullptr;
    EXPECT_EQ(ixoGetInfoToStructure(&ixo_, &none), -5);
    EXPECT_EQ(none, nullptr);
    server_.setMode(LoopbackServer::Mode::CloseAtOnce);
    EXPECT_EQ(ixoGetInfoToStructure(&ixo_, &none), -3);
}

TEST_F(InfoRequestTest, TermRequests) {
    reply("Number of hits: 2\nAPPLE+30\nPEAR+12\n");
    IxoTermList list{};
    ASSERT_EQ(ixoGetTermsToStructure(&ixo_, "4+8+", 0, 1, 0, &list), 1);
    EXPECT_EQ(server_.lastRequest(), get("/qmethod=t&querytext=4+8+&idnum=20&xoptions=tweights"));
    ASSERT_EQ(list.count, 2);
    EXPECT_STREQ(list.terms[1].term, "PEAR");
    EXPECT_EQ(list.terms[1].weight, 12);
    ixoDestroyTermList(&list);

    ixoGetTermsToBuffer(&ixo_, "file:///a", 5, 0, 1, buffer_, sizeof buffer_);
    EXPECT_EQ(server_.lastRequest(),
              get("/qmethod=t&querytext=file:///a&idnum=5&xoptions=+useurl"));
    EXPECT_STREQ(buffer_, "Number of hits: 2\nAPPLE+30\nPEAR+12\n");
    testing_support::TempDir dir;
    const std::string file = dir.file("terms.txt");
    ASSERT_EQ(ixoGetTermsToFile(&ixo_, "r", 3, 1, 1, file.c_str()), 1);
    EXPECT_EQ(server_.lastRequest(),
              get("/qmethod=t&querytext=r&idnum=3&xoptions=tweights+useurl"));
    EXPECT_EQ(testing_support::readWholeFile(file), "Number of hits: 2\nAPPLE+30\nPEAR+12\n");

    // The structure form answers a repeated request from the client cache.
    ASSERT_EQ(ixoSetClientCache(&ixo_, 8, 60, 0), 1);
    const size_t before = server_.requestCount();
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(ixoGetTermsToStructure(&ixo_, "9+", 0, 0, 0, &list), 1);
        EXPECT_STREQ(list.terms[0].term, "APPLE+30");  // no weights asked for
        EXPECT_EQ(list.terms[0].weight, -1);
        ixoDestroyTermList(&list);
    }
    EXPECT_EQ(server_.requestCount(), before + 1);

    reply("Number of hits: 1\nKIWI+3\n");
    ASSERT_EQ(ixoGetDocumentTermsToStructure(&ixo_, 12, "", 1, &list), 1);
    EXPECT_EQ(server_.lastRequest(), get("/qmethod=e&idnum=12&querytext=&xoptions=occ"));
    EXPECT_EQ(list.terms[0].weight, 3);
    ixoDestroyTermList(&list);
    ixoGetDocumentTermsToStructure(&ixo_, 0, "r", 0, &list);
    EXPECT_EQ(server_.lastRequest(), get("/qmethod=e&idnum=0&querytext=r"));
    ixoDestroyTermList(&list);

    reply("no list here\n");
    EXPECT_EQ(ixoGetDocumentTermsToStructure(&ixo_, 1, "", 0, &list), -6);
    reply("Invalid Instruction\n");
    EXPECT_EQ(ixoGetDocumentTermsToStructure(&ixo_, 1, "", 0, &list), -11);
    EXPECT_EQ(list.text, nullptr);
}

TEST_F(InfoRequestTest, DocIdsSummariesAndPrimitives) {
    reply("APPLE : 2 , 4 9 \nPEAR : 1 , 4 \n");
    ixoSetUserParameters(&ixo_, "u", nullptr, nullptr, nullptr);
    IxoDocIdList ids{};
    ASSERT_EQ(ixoGetDocIdsToStructure(&ixo_, "APPLE+PEAR", &ids), 1);
    EXPECT_EQ(server_.lastRequest(),
              get("/qmethod=b&idnum=10000000&xoptions=plain&querytext=APPLE+PEAR&user=u"));
    ASSERT_EQ(ids.count, 2);
    ASSERT_EQ(ids.entries[0].idCount, 2);
    EXPECT_EQ(ids.entries[0].ids[1], 9);
    ixoDestroyDocIdList(&ids);

    reply("summary=some words\n");
    ixoGetSummaryToBuffer(&ixo_, "some+words", nullptr, 0, nullptr, buffer_, sizeof buffer_);
    EXPECT_EQ(server_.lastRequest(), get("/qmethod=Z&querytext=some+words"));
    EXPECT_STREQ(buffer_, "summary=some words\n");
    ixoGetSummaryToBuffer(&ixo_, "", "file:///a", 1, "len50", buffer_, sizeof buffer_);
    EXPECT_EQ(server_.lastRequest(),
              get("/qmethod=z&querytext=&idnum=file:///a&xoptions=useurl+len50"));
    ixoGetSummaryToBuffer(&ixo_, "", "17", 0, "", buffer_, sizeof buffer_);
    EXPECT_EQ(server_.lastRequest(), get("/qmethod=z&querytext=&idnum=17"));

    reply("Number of hits: 2\nAPPLE+40\nPEAR+0\n");
    IxoTermList list{};
    ASSERT_EQ(ixoGetTSEQPrimitiveToStructure(&ixo_, "APPLE+PEAR", 2, &list), 1);
    EXPECT_EQ(server_.lastRequest(), get("/qmethod=a&querytext=APPLE+PEAR&idnum=2"));
    EXPECT_EQ(list.terms[0].weight, 40);
    ixoDestroyTermList(&list);
    ixoGetTSEQPrimitiveToBuffer(&ixo_, "X", 1, buffer_, sizeof buffer_);
    EXPECT_EQ(server_.lastRequest(), get("/qmethod=a&querytext=X&idnum=1"));
}

TEST_F(InfoRequestTest, TitleDuplicateCheck) {
    // The server lists the words in the order asked, each with its frequency.
    reply("Number of hits: 6\nApple+3\npie+5\nApple+3\npie+5\nPear+0\nKiwi+9\n");
    const char* titles[] = {"apple, pie!", "Pear\nKiwi", "--"};
    IxoQueryResult result{};
    ASSERT_EQ(ixoCheckBatchForTitleDuplicates(&ixo_, "Apple pie", titles, 3, &result), 1);
    EXPECT_EQ(server_.lastRequest(),
              get("/qmethod=a&querytext=Apple+pie+apple+pie+Pear+Kiwi&idnum=0"));
    ASSERT_EQ(result.hitCount, 3);
    EXPECT_STREQ(result.records[0].title, "apple, pie!");
    EXPECT_EQ(result.records[0].weight, 3);
    EXPECT_STREQ(result.records[1].title, "Pear Kiwi");
    EXPECT_EQ(result.records[1].weight, 0);
    EXPECT_EQ(result.records[2].weight, -1);
    IxoResultField* f = nullptr;
    ASSERT_EQ(ixoGetFieldFromResultsRecord(&result.records[0], "shared", &f), 1);
    EXPECT_STREQ(f->value, "2");
    ASSERT_EQ(ixoGetFieldFromResultsRecord(&result.records[1], "words", &f), 1);
    EXPECT_STREQ(f->value, "2");

    // The records survive the results-text round trip the cache relies on.
    IxoQueryResult copy{};
    ASSERT_EQ(ixoCopyQueryResult(&copy, &result), 1);
    EXPECT_EQ(copy.hitCount, 3);
    EXPECT_STREQ(copy.records[1].name, "Pear Kiwi");
    ixoDestroyQueryResult(&copy);
    ixoDestroyQueryResult(&result);

    // A reply that lists fewer terms is matched by text; unlisted words are left out.
    reply("Number of hits: 1\nKIWI+4\n");
    const char* one[] = {"kiwi pear"};
    ASSERT_EQ(ixoCheckBatchForTitleDuplicates(&ixo_, "x", one, 1, &result), 1);
    EXPECT_EQ(result.records[0].weight, 4);
    ixoDestroyQueryResult(&result);

    EXPECT_EQ(ixoCheckBatchForTitleDuplicates(&ixo_, "x", one, 0, &result), -5);
    const char* nullTitle[] = {nullptr};
    EXPECT_EQ(ixoCheckBatchForTitleDuplicates(&ixo_, "x", nullTitle, 1, &result), -5);
}

TEST_F(InfoRequestTest, ContentRequests) {
    char* request = ixoCreateContentString("17", 1);
    EXPECT_STREQ(request, "/qmethod=C&querytext=17");
    memFree(request);
    request = ixoCreateContentString("file:///a", 0);
    EXPECT_STREQ(request, "/qmethod=c&querytext=file:///a");
    memFree(request);
    EXPECT_EQ(ixoCreateContentString(nullptr, 0), nullptr);

    // A document far longer than 64000 bytes arrives whole.
    std::string content;
    while (content.size() < 200000) content += "word" + std::to_string(content.size()) + " ";
    const std::string idx =
        "#IXOREFERENCE file:///big.txt\n#IXOTITLE Big\n#IXODOCID 17\n"
        "#IXOCONTENT " +
        content + "\n#IXOENDDOC\n";
    reply(idx);
    ixoSetUserParameters(&ixo_, "u", nullptr, nullptr, nullptr);
    ContentRecord* record = nullptr;
    ASSERT_EQ(ixoGetContentToStructure(&ixo_, "17", 1, &record), 1);
    EXPECT_EQ(server_.lastRequest(), get("/qmethod=C&querytext=17&user=u"));
    EXPECT_STREQ(record->reference, "file:///big.txt");
    EXPECT_STREQ(record->title, "Big");
    EXPECT_EQ(record->docid, 17);
    ASSERT_NE(record->content, nullptr);
    // The reader keeps the blank after the tag word.
    const std::string got(record->content);
    EXPECT_EQ(got.size(), content.size() + 1);
    EXPECT_TRUE(got.substr(1) == content);
    EXPECT_EQ(ixoDestroyContentRecord(record), 1);

    ixoGetContentToBuffer(&ixo_, "17", 0, buffer_, sizeof buffer_);
    EXPECT_EQ(server_.lastRequest(), get("/qmethod=c&querytext=17&user=u"));
    EXPECT_EQ(std::strlen(buffer_), sizeof buffer_ - 1);
    testing_support::TempDir dir;
    const std::string file = dir.file("doc.idx");
    ASSERT_EQ(ixoGetContentToFile(&ixo_, "17", 1, file.c_str()), 1);
    EXPECT_EQ(testing_support::readWholeFile(file), idx);

    // A reply that is no IDX document is not handed back as an empty record.
    reply("ERROR: no such document\n");
    record = reinterpret_cast<ContentRecord*>(1);
    EXPECT_EQ(ixoGetContentToStructure(&ixo_, "99", 1, &record), -7);
    EXPECT_EQ(record, nullptr);
    EXPECT_EQ(ixoGetContentToStructure(&ixo_, nullptr, 1, &record), -5);
}

TEST(InfoRequests, RequestTexts) {
    EXPECT_EQ(ixo_info::termsRequest("a", -1, 0, 0), "/qmethod=t&querytext=a&idnum=-1&xoptions=");
    EXPECT_EQ(ixo_info::summaryRequest("t", nullptr, 0, "x"), "/qmethod=Z&querytext=t&xoptions=x");
    EXPECT_EQ(ixo_info::titleWords("e-mail: 2nd_try\tok"),
              (std::vector<std::string>{"e", "mail", "2nd", "try", "ok"}));
}

}  // namespace
