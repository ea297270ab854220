// Index and administration requests: paths, ports and bodies on the wire, the checks
// on add replies, and the status, document-number and thesaurus requests.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ixo.h"
#include "ixo/ixoindex.h"
#include "tests/common/loopback_server.h"
#include "tests/common/tempdir.h"

namespace {

using testing_support::LoopbackServer;

std::string get(const std::string& path) {
    return "GET " + path + " HTTP/1.0\r\nPragma: No-Cache\r\n\r\n";
}

std::string post(const std::string& path, const std::string& body) {
    return "POST " + path +
           " HTTP/1.0\r\nPragma: No-Cache\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

class IndexTest : public ::testing::Test {
  protected:
    void SetUp() override {
        query_.setReply(LoopbackServer::httpReply("query reply\n"));
        index_.setReply(LoopbackServer::httpReply("INDEXID=7\nDOCUMENTS=1\n"));
        ASSERT_EQ(ixoCreateIxo(&ixo_, "127.0.0.1", nullptr, query_.port(), index_.port()), 1);
    }
    void TearDown() override { ixoDestroyIxo(&ixo_); }

    LoopbackServer query_;
    LoopbackServer index_;
    IXO ixo_{};
    char reply_[256] = {};
};

TEST_F(IndexTest, AddByLocationPathsAndReplyCheck) {
    ASSERT_EQ(ixoIndexDocument(&ixo_, "/data/a.idx", nullptr, reply_, sizeof reply_), 1);
    EXPECT_EQ(index_.lastRequest(), get("/IXOADD?/data/a.idx"));
    EXPECT_STREQ(reply_, "INDEXID=7\nDOCUMENTS=1\n");

    ASSERT_EQ(ixoIndexDocument(&ixo_, "/data/a.idx", "REFERENCE", reply_, sizeof reply_), 1);
    EXPECT_EQ(index_.lastRequest(), get("/IXOADD?/data/a.idx&KILLDUPLICATES=REFERENCE"));

    // A blank anywhere makes the whole location percent-encoded.
    ASSERT_EQ(ixoIndexDocument(&ixo_, "/my docs/a-1.idx", "", reply_, sizeof reply_), 1);
    EXPECT_EQ(index_.lastRequest(), get("/IXOADD?%2Fmy%20docs%2Fa%2D1%2Eidx"));

    ASSERT_EQ(ixoIndexDocumentIntoDatabase(&ixo_, "/a.idx", nullptr, "mail", reply_, sizeof reply_),
              1);
    EXPECT_EQ(index_.lastRequest(), get("/IXOADD?/a.idx&IXODBNAME=mail"));
    ASSERT_EQ(
        ixoIndexDocumentIntoDatabase(&ixo_, "/a.idx", "REFERENCE", "mail", reply_, sizeof reply_),
        1);
    EXPECT_EQ(index_.lastRequest(), get("/IXOADD?/a.idx&KILLDUPLICATES=REFERENCE&IXODBNAME=mail"));
    EXPECT_EQ(ixoIndexDocumentIntoDatabase(&ixo_, "/a.idx", nullptr, "", reply_, sizeof reply_),
              -5);

    ixoLoadThesaurusFile(&ixo_, "/t.idx");
    EXPECT_EQ(index_.lastRequest(),
              get("/IXOADD?/t.idx&KILLDUPLICATES=REFERENCE&IXODBNAME=Thesaurus"));
    EXPECT_EQ(ixoLoadThesaurus(), -8);
    EXPECT_EQ(query_.requestCount(), 0u);  // all on the index port

    // The exchange succeeds but the server did not take the document.
    index_.setReply(LoopbackServer::httpReply("ERROR: cannot read /a.idx\n"));
    EXPECT_EQ(ixoIndexDocument(&ixo_, "/a.idx", nullptr, reply_, sizeof reply_), -11);
    EXPECT_STREQ(reply_, "ERROR: cannot read /a.idx\n");
    EXPECT_EQ(ixoLoadThesaurusFile(&ixo_, "/t.idx"), -11);

    // "INDEXID" beyond what fits the caller's buffer still counts.
    index_.setReply(LoopbackServer::httpReply("DOCUMENTS=1\nINDEXID=9\n"));
    char small[5];
    EXPECT_EQ(ixoIndexDocument(&ixo_, "/a.idx", nullptr, small, sizeof small), 1);
    EXPECT_STREQ(small, "DOCU");

    const size_t sent = index_.requestCount();
    EXPECT_EQ(ixoIndexDocument(&ixo_, nullptr, nullptr, reply_, sizeof reply_), -5);
    EXPECT_EQ(ixoIndexDocument(&ixo_, "/a.idx", nullptr, nullptr, 10), -5);
    EXPECT_EQ(ixoIndexDocument(&ixo_, "/a.idx", nullptr, reply_, 0), -5);
    EXPECT_EQ(index_.requestCount(), sent);
}

TEST_F(IndexTest, AddDataFromBufferAndFile) {
    const std::string idx = "#IXOREFERENCE r1\n#IXOTITLE One\n#IXOCONTENT words\n#IXOENDDOC";
    ASSERT_EQ(ixoIndexLocalBuffer(&ixo_, idx.c_str(), "&IXODBNAME=web", reply_, sizeof reply_), 1);
    // The path's trailing blank goes out encoded: a request line holds no raw blank.
    EXPECT_EQ(index_.lastRequest(), post("/IXOADDDATA?%20", idx + "\n#IXOENDDATA&IXODBNAME=web\n"));
    ASSERT_EQ(ixoIndexLocalBuffer(&ixo_, idx.c_str(), nullptr, reply_, sizeof reply_), 1);
    EXPECT_EQ(index_.lastRequest(), post("/IXOADDDATA?%20", idx + "\n#IXOENDDATA\n"));

    testing_support::TempDir dir;
    const std::string file = dir.file("doc.idx");
    testing_support::writeWholeFile(file, idx);
    ASSERT_EQ(ixoIndexLocalFile(&ixo_, file.c_str(), nullptr, reply_, sizeof reply_), 1);
    EXPECT_EQ(index_.lastRequest(), post("/IXOADDDATA?%20", idx + "\n#IXOENDDATA\n"));

    index_.setReply(LoopbackServer::httpReply("ERROR: no documents in the request\n"));
    EXPECT_EQ(ixoIndexLocalBuffer(&ixo_, "junk", nullptr, reply_, sizeof reply_), -11);

    // An empty or missing file is reported without sending anything.
    const size_t sent = index_.requestCount();
    const std::string empty = dir.file("empty.idx");
    testing_support::writeWholeFile(empty, "");
    EXPECT_EQ(ixoIndexLocalFile(&ixo_, empty.c_str(), nullptr, reply_, sizeof reply_), -6);
    EXPECT_EQ(
        ixoIndexLocalFile(&ixo_, dir.file("none.idx").c_str(), nullptr, reply_, sizeof reply_), -6);
    EXPECT_EQ(ixoIndexLocalBuffer(&ixo_, nullptr, nullptr, reply_, sizeof reply_), -5);
    EXPECT_EQ(index_.requestCount(), sent);
}

TEST_F(IndexTest, DeleteAndDatabaseCommands) {
    index_.setReply(LoopbackServer::httpReply("DELETED=2\n"));
    ASSERT_EQ(ixoDeleteDocuments(&ixo_, 0, "12+13+", reply_, sizeof reply_), 1);
    EXPECT_EQ(index_.lastRequest(), get("/IXODELETEDOC?docs=12+13+"));
    EXPECT_STREQ(reply_, "DELETED=2\n");

    // Mode 1: only the '+' before the first "+dbname=" becomes '&'.
    ASSERT_EQ(
        ixoDeleteDocuments(&ixo_, 1, "u-0+u-1+dbname=community+dbname=x", reply_, sizeof reply_),
        1);
    EXPECT_EQ(index_.lastRequest(), get("/IXODELETEREF?docs=u-0+u-1&dbname=community+dbname=x"));
    // Without "+dbname=" the first "+dbnum=" is rewritten; "+dbname=" wins over it.
    ixoDeleteDocuments(&ixo_, 1, "a+dbnum=3", reply_, sizeof reply_);
    EXPECT_EQ(index_.lastRequest(), get("/IXODELETEREF?docs=a&dbnum=3"));
    ixoDeleteDocuments(&ixo_, 1, "a+dbnum=3+dbname=w", reply_, sizeof reply_);
    EXPECT_EQ(index_.lastRequest(), get("/IXODELETEREF?docs=a+dbnum=3&dbname=w"));
    ixoDeleteDocuments(&ixo_, 1, "a+b+", reply_, sizeof reply_);
    EXPECT_EQ(index_.lastRequest(), get("/IXODELETEREF?docs=a+b+"));

    ixoDeleteDocuments(&ixo_, 2, "web", reply_, sizeof reply_);
    EXPECT_EQ(index_.lastRequest(), get("/IXODELDBASE?web"));
    ixoDeleteDocuments(&ixo_, 4, "web", reply_, sizeof reply_);
    EXPECT_EQ(index_.lastRequest(), get("/IXOREMOVEDBASE?web"));
    ixoCreateDatabase(&ixo_, "news", reply_, sizeof reply_);
    EXPECT_EQ(index_.lastRequest(), get("/IXOCREATEDBASE?news"));

    const size_t sent = index_.requestCount();
    EXPECT_EQ(ixoDeleteDocuments(&ixo_, 3, "web", reply_, sizeof reply_), -5);
    EXPECT_EQ(ixoCreateDatabase(&ixo_, "", reply_, sizeof reply_), -5);
    EXPECT_EQ(index_.requestCount(), sent);
}

TEST_F(IndexTest, FieldAndTermChangeBodies) {
    const IxoFieldChange fields[] = {{"file:///a.txt", 0, "AUTHOR", "Ann"},
                                     {nullptr, 42, "TITLE", "two\nlines"},
                                     {"", 7, "X", ""}};
    char* reply = nullptr;
    ASSERT_EQ(ixoReplaceFields(&ixo_, fields, 3, &reply), 1);
    EXPECT_STREQ(reply, "INDEXID=7\nDOCUMENTS=1\n");
    memFree(reply);
    // A line break inside a value must not start a new line of the body.
    EXPECT_EQ(index_.lastRequest(),
              post("/IXOREPLACE",
                   "#IXODOCREF file:///a.txt\n#IXOFIELDNAME AUTHOR\n#IXOFIELDVALUE Ann\n"
                   "#IXODOCID 42\n#IXOFIELDNAME TITLE\n#IXOFIELDVALUE two lines\n"
                   "#IXODOCID 7\n#IXOFIELDNAME X\n#IXOFIELDVALUE \n#IXOENDDATA\n"));

    const std::string longTerm(1200, 'T');
    const IxoTermChange terms[] = {{"APPLE", "r1", 0},
                                   {"APPLE", nullptr, 5},
                                   {"PEAR", nullptr, 6},
                                   {"APPLE", "r2", 0},
                                   {longTerm.c_str(), nullptr, 1}};
    ASSERT_EQ(ixoAddTermsToDocs(&ixo_, terms, 5, nullptr), 1);
    EXPECT_EQ(index_.lastRequest(), post("/IXOUPDATE",
                                         "#IXOTERM APPLE\n+Rr1\n+5\n"
                                         "#IXOTERM PEAR\n+6\n"
                                         "#IXOTERM APPLE\n+Rr2\n"
                                         "#IXOTERM " +
                                             std::string(999, 'T') + "\n+1\n#IXOENDDATA\n"));
    ASSERT_EQ(ixoRemoveTermsFromDocs(&ixo_, terms, 2, nullptr), 1);
    EXPECT_EQ(index_.lastRequest(), post("/IXOUPDATE", "#IXOTERM APPLE\n-Rr1\n-5\n#IXOENDDATA\n"));

    const IxoTermChange noTerm[] = {{nullptr, "r", 0}};
    EXPECT_EQ(ixoAddTermsToDocs(&ixo_, noTerm, 1, nullptr), -5);
    EXPECT_EQ(ixoReplaceFields(&ixo_, fields, 0, nullptr), -5);
}

TEST_F(IndexTest, MaintenanceCommands) {
    char* reply = nullptr;
    ASSERT_EQ(ixoFinishedIndex(&ixo_, &reply), 1);
    memFree(reply);
    EXPECT_EQ(index_.lastRequest(), get("/IXOFINISHEDINDEX"));

    // Without all four user parameters the merge path ends in a line feed (encoded).
    ASSERT_EQ(ixoMerge(&ixo_, "db1", nullptr), 1);
    EXPECT_EQ(index_.lastRequest(), get("/IXOMERGE?db1%0A"));

    ixoSetUserParameters(&ixo_, "u", "", nullptr, nullptr);
    ixoReset(&ixo_, reply_, sizeof reply_);
    EXPECT_EQ(index_.lastRequest(), get("/IXORESET&user=u"));
    ixoInitial(&ixo_, reply_, sizeof reply_);
    EXPECT_EQ(index_.lastRequest(), get("/IXOINITIAL&user=u"));
    ixoMerge(&ixo_, "db1", nullptr);
    EXPECT_EQ(index_.lastRequest(), get("/IXOMERGE?db1&user=u%0A"));

    ixoSetUserParameters(&ixo_, "u", "p", "g", "d");
    ixoMerge(&ixo_, "db1", nullptr);
    EXPECT_EQ(index_.lastRequest(), get("/IXOMERGE?db1&user=u&pass=p&group=g&domain=d"));
    const size_t sent = index_.requestCount();
    EXPECT_EQ(ixoFinishedIndex(&ixo_, nullptr), -8);
    EXPECT_EQ(index_.requestCount(), sent);

    ixoBackup(&ixo_, "b1", reply_, sizeof reply_);
    EXPECT_EQ(index_.lastRequest(), get("/IXOBACKUP?b1&user=u&pass=p&group=g&domain=d"));
    ixoRestoreFromBackup(&ixo_, "b1", reply_, sizeof reply_);
    EXPECT_EQ(index_.lastRequest(), get("/IXOINITIAL?b1&user=u&pass=p&group=g&domain=d"));

    // The shutdown goes to the query port, with the user parameters.
    EXPECT_EQ(ixoShutdownServer(&ixo_), 1);
    EXPECT_EQ(query_.lastRequest(), get("/IXOSHUTDOWN&user=u&pass=p&group=g&domain=d"));
}

TEST_F(IndexTest, FailuresOfTheExchange) {
    index_.setReply(LoopbackServer::httpReply("Invalid Instruction\n"));
    EXPECT_EQ(ixoDeleteDocuments(&ixo_, 0, "1", reply_, sizeof reply_), -11);
    EXPECT_STREQ(reply_, "");
    char* reply = reinterpret_cast<char*>(1);
    EXPECT_EQ(ixoMerge(&ixo_, "x", &reply), -11);
    EXPECT_EQ(reply, nullptr);

    index_.setMode(LoopbackServer::Mode::CloseAtOnce);
    EXPECT_EQ(ixoIndexLocalBuffer(&ixo_, "#IXOREFERENCE a", nullptr, reply_, sizeof reply_), -3);
    EXPECT_EQ(ixoReset(&ixo_, reply_, sizeof reply_), -3);
}

// A server that takes index commands only from its user: every command carries the
// handle's user parameters, and refusals (403, 500, "ERROR" replies) are failures with
// the server's reason in the reply.
TEST_F(IndexTest, UserParametersAndRefusedCommands) {
    index_.setHandler([](const std::string& request) {
        if (request.find("&user=ix&pass=pw") == std::string::npos)
            return LoopbackServer::httpReply(
                "ERROR: index commands need a valid user and password\n", "text/plain", 403);
        if (request.find("IXODELETEREF") != std::string::npos)
            return LoopbackServer::httpReply("DELETED=1\n");
        return LoopbackServer::httpReply("INDEXID=1\nDONE\n");
    });
    char* reply = nullptr;
    const IxoFieldChange change[] = {{"r", 0, "TITLE", "t"}};
    const IxoTermChange term[] = {{"T", "r", 0}};
    auto everyCommand = [&](int32_t expected) {
        EXPECT_EQ(ixoDeleteDocuments(&ixo_, 1, "a+b", reply_, sizeof reply_), expected);
        EXPECT_EQ(ixoDeleteDocuments(&ixo_, 0, "1+2", reply_, sizeof reply_), expected);
        EXPECT_EQ(ixoCreateDatabase(&ixo_, "db", reply_, sizeof reply_), expected);
        EXPECT_EQ(ixoReset(&ixo_, reply_, sizeof reply_), expected);
        EXPECT_EQ(ixoBackup(&ixo_, "b", reply_, sizeof reply_), expected);
        EXPECT_EQ(ixoReplaceFields(&ixo_, change, 1, nullptr), expected);
        EXPECT_EQ(ixoAddTermsToDocs(&ixo_, term, 1, nullptr), expected);
        EXPECT_EQ(ixoIndexLocalBuffer(&ixo_, "#IXOREFERENCE a", nullptr, reply_, sizeof reply_),
                  expected);
        EXPECT_EQ(ixoIndexDocument(&ixo_, "/a.idx", nullptr, reply_, sizeof reply_), expected);
    };
    {
        SCOPED_TRACE("no user");
        everyCommand(IXO_ERR_INSTRUCTION);
        // The refusal's reason reaches the caller.
        EXPECT_EQ(ixoDeleteDocuments(&ixo_, 1, "a", reply_, sizeof reply_), IXO_ERR_INSTRUCTION);
        EXPECT_STREQ(reply_, "ERROR: index commands need a valid user and password\n");
        EXPECT_EQ(ixoReplaceFields(&ixo_, change, 1, &reply), IXO_ERR_INSTRUCTION);
        ASSERT_NE(reply, nullptr);
        EXPECT_EQ(std::string(reply).rfind("ERROR:", 0), 0u);
        memFree(reply);
    }
    ASSERT_EQ(ixoSetUserParameters(&ixo_, "ix", "pw", nullptr, nullptr), 1);
    {
        SCOPED_TRACE("with user");
        everyCommand(1);
        EXPECT_EQ(index_.lastRequest(), get("/IXOADD?/a.idx&user=ix&pass=pw"));
        ASSERT_EQ(ixoDeleteDocuments(&ixo_, 1, "a+dbname=w", reply_, sizeof reply_), 1);
        EXPECT_EQ(index_.lastRequest(), get("/IXODELETEREF?docs=a&dbname=w&user=ix&pass=pw"));
        EXPECT_STREQ(reply_, "DELETED=1\n");
    }

    // A server error, and an "ERROR" reply with status 200, are failures too.
    index_.setHandler(nullptr);
    index_.setReply(LoopbackServer::httpReply("DELETED=0\n", "text/plain", 500));
    everyCommand(IXO_ERR_INSTRUCTION);
    index_.setReply(LoopbackServer::httpReply("ERROR: no such database\n"));
    EXPECT_EQ(ixoDeleteDocuments(&ixo_, 2, "none", reply_, sizeof reply_), IXO_ERR_INSTRUCTION);
    EXPECT_EQ(ixoCreateDatabase(&ixo_, "db", reply_, sizeof reply_), IXO_ERR_INSTRUCTION);
    EXPECT_EQ(ixoMerge(&ixo_, "x", nullptr), IXO_ERR_INSTRUCTION);
}

TEST_F(IndexTest, IndexerStatus) {
    query_.setReply(LoopbackServer::httpReply("job\nSTATUS=finished\nINDEXID=3\n"));
    char status[64];
    ASSERT_EQ(ixoGetIndexerStatus(&ixo_, 3, status, sizeof status), 1);
    EXPECT_EQ(query_.lastRequest(), get("/qmethod=p&idnum=3"));
    EXPECT_STREQ(status, "STATUS=finished\nINDEXID=3\n");
    char small[7];
    ASSERT_EQ(ixoGetIndexerStatus(&ixo_, 3, small, sizeof small), 1);
    EXPECT_STREQ(small, "STATUS");

    query_.setReply(LoopbackServer::httpReply("nothing known\n"));
    EXPECT_EQ(ixoGetIndexerStatus(&ixo_, 3, status, sizeof status), -3);
    EXPECT_STREQ(status, "");
}

TEST_F(IndexTest, DocumentNumberFromReference) {
    query_.setReply(
        LoopbackServer::httpReply("#IXOREFERENCE file:///a.txt\n#IXODOCID 17\n#IXOENDDOC\n"));
    EXPECT_EQ(ixoGetDocIdFromReference(&ixo_, "file:///a.txt"), 17);
    EXPECT_EQ(query_.lastRequest(), get("/qmethod=C&querytext=file:///a.txt&xoptions=useurl"));
    // A different document whose reference merely begins with the one asked for.
    EXPECT_EQ(ixoGetDocIdFromReference(&ixo_, "file:///a.tx"), -1);
    EXPECT_EQ(ixoGetDocIdFromReference(&ixo_, "file:///b.txt"), -1);

    query_.setReply(LoopbackServer::httpReply("#IXOREFERENCE r\r\n#IXODOCID 5\r\n"));
    EXPECT_EQ(ixoGetDocIdFromReference(&ixo_, "r"), 5);
    query_.setReply(LoopbackServer::httpReply("#IXOREFERENCE r\n"));
    EXPECT_EQ(ixoGetDocIdFromReference(&ixo_, "r"), -1);
    query_.setReply(LoopbackServer::httpReply("#IXOREFERENCE r\n#IXODOCID 99999999999\n"));
    EXPECT_EQ(ixoGetDocIdFromReference(&ixo_, "r"), -1);
    EXPECT_EQ(ixoGetDocIdFromReference(nullptr, "r"), -1);
}

TEST_F(IndexTest, ThesaurusWidensTheQuery) {
    LoopbackServer thesaurusServer;
    thesaurusServer.setHandler([](const std::string& request) {
        if (request.find("qmethod=q") != std::string::npos) {
            return LoopbackServer::httpReply(
                "numhits=2\nDoc_name=t1\nURL_title=T1\nDoc_id=4\nDoc_weight=9\nlinks=\ndbase=0\n"
                "Doc_name=t2\nURL_title=T2\nDoc_id=8\nDoc_weight=5\nlinks=\ndbase=0\n");
        }
        return LoopbackServer::httpReply("Number of hits: 4\nFRUIT+30\n1999+20\nPOME+10\nMORE+5\n");
    });
    IXO thesaurus{};
    ASSERT_EQ(ixoCreateIxo(&thesaurus, "127.0.0.1", nullptr, thesaurusServer.port(), 1), 1);
    query_.setReply(LoopbackServer::httpReply("numhits=0\n"));

    IxoQueryResult result{};
    ASSERT_EQ(ixoDoThesaurusQueryToStructure(&ixo_, 0, "APPLE+", "", "", "", "", 5, 1, 0, 0,
                                             &thesaurus, "Thesaurus", 2, &result),
              1);
    ASSERT_EQ(thesaurusServer.requestCount(), 2u);
    const auto asked = thesaurusServer.requests();
    EXPECT_NE(asked[0].find("/qmethod=q&querytext=APPLE++QNUM=10&qnum=10"), std::string::npos);
    EXPECT_NE(asked[0].find("&attachtoname=Thesaurus"), std::string::npos);
    EXPECT_EQ(asked[1], get("/qmethod=t&querytext=4+8+&idnum=20&xoptions=tweights"));
    // Numbers are skipped; the limit counts the terms used.
    EXPECT_NE(query_.lastRequest().find("querytext=APPLE+FRUIT~[30]+POME~[10]++QNUM=5"),
              std::string::npos)
        << query_.lastRequest();
    ixoDestroyQueryResult(&result);

    // Extra options in the text stay behind the added terms.
    ixoDoThesaurusQueryToStructure(&ixo_, 0, "APPLE&xoptions=x", "", "", "", "", 5, 1, 0, 0,
                                   &thesaurus, "Thesaurus", 1, &result);
    EXPECT_NE(query_.lastRequest().find("querytext=APPLE+FRUIT~[30]++QNUM=5"), std::string::npos)
        << query_.lastRequest();
    EXPECT_NE(query_.lastRequest().find("&xoptions=x+"), std::string::npos);
    ixoDestroyQueryResult(&result);

    // A thesaurus that cannot be reached leaves the query as it is.
    thesaurusServer.setMode(LoopbackServer::Mode::CloseAtOnce);
    ASSERT_EQ(ixoDoThesaurusQueryToStructure(&ixo_, 0, "APPLE+", "", "", "", "", 5, 1, 0, 0,
                                             &thesaurus, "Thesaurus", 2, &result),
              1);
    EXPECT_NE(query_.lastRequest().find("querytext=APPLE++QNUM=5"), std::string::npos);
    ixoDestroyQueryResult(&result);
    ixoDestroyIxo(&thesaurus);
}

}  // namespace
