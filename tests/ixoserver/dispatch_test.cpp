// The request grammar against a real index in a temporary folder, without sockets.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>

#include "server/dispatch.h"
#include "server/store.h"
#include "tests/common/tempdir.h"

using namespace ixoserver;

namespace {

std::string idxDoc(const std::string& ref, const std::string& title, const std::string& content,
                   const std::string& extra = "") {
    return "#IXOREFERENCE " + ref + "\n#IXOTITLE\n" + title + "\n" + extra + "#IXOCONTENT\n" +
           content + "\n#IXOENDDOC\n";
}

// Minimal reading of a results text: the records' names, ids and weights.
struct Hit {
    std::string name;
    int id = 0;
    int weight = 0;
    std::string links;
};

std::vector<Hit> hitsOf(const std::string& reply) {
    std::vector<Hit> out;
    size_t pos = 0;
    while ((pos = reply.find("Doc_name=", pos)) != std::string::npos) {
        Hit h;
        auto value = [&](const char* key) {
            size_t k = reply.find(key, pos);
            size_t eol = reply.find('\n', k);
            return reply.substr(k + std::strlen(key), eol - k - std::strlen(key));
        };
        h.name = value("Doc_name=");
        h.id = std::atoi(value("Doc_id=").c_str());
        h.weight = std::atoi(value("Doc_weight=").c_str());
        h.links = value("links=");
        out.push_back(h);
        pos += 9;
    }
    return out;
}

class DispatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        config.home = dir.path().string();
        store = std::make_unique<Store>(config.dataPath(), 20);
        std::string error;
        ASSERT_TRUE(store->open(error)) << error;
        dispatcher = std::make_unique<Dispatcher>(*store, config);
    }

    std::string request(PortKind port, const std::string& target, const std::string& body = "") {
        HttpRequestData r;
        r.method = body.empty() ? "GET" : "POST";
        r.target = target;
        r.body = body;
        return dispatcher->handle(port, r, true).reply.body;
    }
    std::string q(const std::string& target) { return request(PortKind::Query, target); }
    std::string idx(const std::string& target, const std::string& body = "") {
        std::string reply = request(PortKind::Index, target, body);
        store->commit();
        return reply;
    }

    void addCorpus() {
        std::string body =
            idxDoc("file:///fruit/apple.txt", "Apple orchards",
                   "Apple trees grow in orchards; pickers harvest apples in autumn.",
                   "#IXOTYPE TEXT\n#IXOFIELD author=\"Ann\"\n#IXODATE 2000-01-01\n") +
            idxDoc("file:///fruit/pear.txt", "Pears",
                   "Pear trees give sweet pears late in the summer.",
                   "#IXODATE " + std::to_string(std::time(nullptr) - 3600) + "\n") +
            idxDoc("file:///cars/engine.txt", "Engines",
                   "Diesel engines burn fuel and drive heavy trucks.",
                   "#IXOTYPE EMAIL\n#IXODBNAME mail\n") +
            "#IXOENDDATA\n";
        ASSERT_NE(idx("/IXOADDDATA? ", body).find("INDEXID="), std::string::npos);
    }

    testing_support::TempDir dir;
    ServerConfig config;
    std::unique_ptr<Store> store;
    std::unique_ptr<Dispatcher> dispatcher;
};

}  // namespace

TEST_F(DispatchTest, SuggestionsRankTheSourceFirstWithCalibratedWeights) {
    addCorpus();
    // The document's own words score high; an unrelated document is cut by idnum.
    std::string reply =
        q("/qmethod=E&querytext=APPL~+TREE~+ORCHARD~+PICK~+HARV~+AUTUMN~+&qnum=6&idnum=30"
          "&fromdate=-1&todate=0&attachto=-1");
    auto hits = hitsOf(reply);
    ASSERT_FALSE(hits.empty()) << reply;
    EXPECT_EQ(hits[0].name, "file:///fruit/apple.txt");
    EXPECT_GE(hits[0].weight, 90);
    EXPECT_LE(hits[0].weight, 100);
    for (const auto& h : hits) EXPECT_NE(h.name, "file:///cars/engine.txt");
    EXPECT_NE(hits[0].links.find("ORCHARD"), std::string::npos);
    EXPECT_NE(reply.find("author=Ann\n"), std::string::npos);
    EXPECT_NE(reply.find("DocType=TEXT\n"), std::string::npos);
    EXPECT_EQ(reply.rfind("numhits=", 0), 0u);

    // qnum limits the records; a weight threshold of 100 keeps only full matches.
    EXPECT_EQ(hitsOf(q("/qmethod=E&querytext=TREE~+&qnum=1&idnum=0")).size(), 1u);
    EXPECT_EQ(q("/qmethod=E&querytext=ZEBRA~+&qnum=6&idnum=0"), "numhits=0\n");
}

TEST_F(DispatchTest, QueryMethodsAndRestrictions) {
    addCorpus();
    // q stems unmarked terms the client's way ("harvest" loses "EST").
    auto hits = hitsOf(q("/qmethod=q&querytext=harvest+QNUM=5&qnum=5"));
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].name, "file:///fruit/apple.txt");
    // F needs all terms, g/G look at titles only.
    EXPECT_EQ(hitsOf(q("/qmethod=F&querytext=tree+diesel+QNUM=5&qnum=5")).size(), 0u);
    EXPECT_EQ(hitsOf(q("/qmethod=F&querytext=tree+sweet+QNUM=5&qnum=5")).size(), 1u);
    EXPECT_EQ(hitsOf(q("/qmethod=g&querytext=orchards")).size(), 1u);
    EXPECT_EQ(hitsOf(q("/qmethod=g&querytext=harvest")).size(), 0u);
    // Boolean operators.
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=tree+NOT+sweet&xoptions=boolean+")).size(), 1u);
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=diesel+OR+sweet&xoptions=boolean+")).size(), 2u);

    // Databases by name and number.
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=tree+fuel&attachtoname=mail")).size(), 1u);
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=tree+fuel&attachto=0")).size(), 2u);
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=tree+fuel&attachtoname=nosuch")).size(), 0u);
    // Fields: exact values, words, reference; combined with fieldbool.
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=tree&fnameauthor=Ann")).size(), 1u);
    EXPECT_EQ(
        hitsOf(q("/qmethod=q&querytext=tree&fnameIXOREFERENCE=file:///fruit/pear.txt")).size(), 1u);
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=tree+fuel&fnameDocType=email")).size(), 1u);
    EXPECT_EQ(
        hitsOf(
            q("/qmethod=q&querytext=tree&fnameauthor=Ann&fnameIXOREFERENCE=file:///fruit/pear.txt"
              "&fieldbool=or"))
            .size(),
        2u);
    EXPECT_EQ(
        hitsOf(
            q("/qmethod=q&querytext=tree&fnameauthor=Ann&fnameIXOREFERENCE=file:///fruit/pear.txt"))
            .size(),
        0u);
    // Dates: only the pear document is from the last week.
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=tree&fromdate=7&todate=0")).size(), 1u);
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=tree&fromdate=-1&todate=30")).size(), 1u);
    // onlymatch, counting, paging.
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=tree&onlymatch=2+")).size(), 1u);
    EXPECT_EQ(q("/qmethod=q&querytext=tree+fuel&xoptions=counthits"), "numhits=3\n");
    std::string page =
        q("/qmethod=s&querytext=tree+fuel+QNUM=3&qnum=3&xoptions=start1+inchitcount");
    EXPECT_EQ(hitsOf(page).size(), 2u);
    EXPECT_NE(page.find("totalhits=3\n"), std::string::npos);
    // Summaries.
    EXPECT_NE(q("/qmethod=q&querytext=diesel&xoptions=withsummary+").find("summary=Diesel engines"),
              std::string::npos);
}

TEST_F(DispatchTest, InformationTermAndContentReplies) {
    addCorpus();
    std::string info = q("/qmethod=V");
    EXPECT_NE(info.find("PRODUCT="), std::string::npos);
    EXPECT_NE(info.find("DOCNUM=3\n"), std::string::npos);
    EXPECT_NE(info.find("DATABASES=2[default,mail]\n"), std::string::npos);

    std::string content = q("/qmethod=C&querytext=file:///fruit/pear.txt&xoptions=useurl");
    EXPECT_NE(content.find("#IXOREFERENCE file:///fruit/pear.txt\n"), std::string::npos);
    EXPECT_NE(content.find("#IXODOCID 2\n"), std::string::npos);
    EXPECT_NE(content.find("sweet pears"), std::string::npos);
    EXPECT_NE(q("/qmethod=c&querytext=1").find("Apple orchards"), std::string::npos);
    EXPECT_EQ(q("/qmethod=c&querytext=99").find("#IXO"), std::string::npos);

    std::string terms = q("/qmethod=t&querytext=1+&idnum=3&xoptions=tweights");
    EXPECT_EQ(terms.rfind("Number of hits: 3\n", 0), 0u) << terms;
    EXPECT_NE(terms.find("APPL+"), std::string::npos);
    std::string occ = q("/qmethod=e&idnum=1&querytext=&xoptions=occ");
    EXPECT_NE(occ.find("\nAPPL+"), std::string::npos) << occ;

    EXPECT_EQ(q("/qmethod=b&idnum=10000000&xoptions=plain&querytext=tree+zebra"),
              "TREE : 2 , 1 2 \nZEBRA : 0 , \n");
    EXPECT_EQ(q("/qmethod=a&querytext=tree&idnum=5"), "Number of hits: 1\nTREE+2\n");
    EXPECT_NE(q("/qmethod=z&querytext=x&idnum=3").find("summary=Diesel"), std::string::npos);
    EXPECT_NE(q("/qmethod=n").find("\nTHE\n"), std::string::npos);
    EXPECT_NE(q("/qmethod=p&idnum=1").find("STATUS=finished"), std::string::npos);
    EXPECT_NE(q("/qmethod=Y&querytext=x").find("Invalid Instruction"), std::string::npos);
    EXPECT_NE(q("/NOSUCHTHING").find("Invalid Instruction"), std::string::npos);
}

TEST_F(DispatchTest, IndexCommandsChangeWhatQueriesSee) {
    addCorpus();
    // Index commands are refused on the query port.
    EXPECT_NE(q("/IXORESET").find("Invalid Instruction"), std::string::npos);
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=tree")).size(), 2u);

    // Re-adding a reference replaces it in place and keeps its id.
    EXPECT_NE(idx("/IXOADDDATA? ", idxDoc("file:///fruit/pear.txt", "Pears", "Pears ripen slowly."))
                  .find("DOCIDS=2\n"),
              std::string::npos);
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=tree")).size(), 1u);
    // An add without documents is an error, not an index id.
    EXPECT_EQ(idx("/IXOADDDATA? ", "no documents here").find("INDEXID"), std::string::npos);

    // Fields replaced by reference and by id; the field restriction follows.
    EXPECT_EQ(idx("/IXOREPLACE",
                  "#IXODOCREF file:///fruit/apple.txt\n#IXOFIELDNAME author\n"
                  "#IXOFIELDVALUE Bob\n#IXODOCID 2\n#IXOFIELDNAME IXOTITLE\n"
                  "#IXOFIELDVALUE Ripe pears\n#IXODOCID 77\n#IXOFIELDNAME a\n"
                  "#IXOFIELDVALUE b\n#IXOENDDATA\n"),
              "REPLACED=2\nNOTFOUND=1\n");
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=tree&fnameauthor=Ann")).size(), 0u);
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=tree&fnameauthor=Bob")).size(), 1u);
    EXPECT_NE(q("/qmethod=c&querytext=2").find("Ripe pears"), std::string::npos);

    // Terms added to and removed from documents.
    EXPECT_EQ(idx("/IXOUPDATE", "#IXOTERM zeppelins\n+Rfile:///fruit/apple.txt\n+2\n#IXOENDDATA\n"),
              "UPDATED=2\nNOTFOUND=0\n");
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=zeppelin")).size(), 2u);
    idx("/IXOUPDATE", "#IXOTERM zeppelins\n-2\n#IXOENDDATA\n");
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=zeppelin")).size(), 1u);

    // Deleting by id and by reference (within a database).
    EXPECT_EQ(idx("/IXODELETEREF?docs=file:///cars/engine.txt&dbname=default"), "DELETED=0\n");
    EXPECT_EQ(idx("/IXODELETEREF?docs=file:///cars/engine.txt&dbname=mail"), "DELETED=1\n");
    EXPECT_EQ(idx("/IXODELETEDOC?docs=1+999+"), "DELETED=1\n");
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=zeppelin+diesel")).size(), 0u);
}

// References are file names and may hold the list separator '+', '&' and '%': written
// encoded, each names exactly its own document; plain '+' still separates references.
TEST_F(DispatchTest, DeleteByReferenceSplitsTheListBeforeDecoding) {
    const char* refs[] = {"/d/C++ notes.txt", "/d/a&b.txt",    "/d/%41.txt", "/d/A.txt", "/d/C",
                          "/d/plain1.txt",    "/d/plain2.txt", "/d/keep.txt"};
    std::string body;
    for (const char* r : refs) body += idxDoc(r, "t", std::string("words of ") + r);
    ASSERT_NE(idx("/IXOADDDATA? ", body + "#IXOENDDATA\n").find("INDEXID="), std::string::npos);
    auto has = [&](const std::string& ref) {
        std::string encoded;
        for (unsigned char c : ref) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            encoded += std::isalnum(c) || c == '/' || c == '.' ? std::string(1, c) : hex;
        }
        return q("/qmethod=C&querytext=" + encoded + "&xoptions=useurl")
                   .find("#IXOREFERENCE " + ref + "\n") != std::string::npos;
    };
    for (const char* r : refs) ASSERT_TRUE(has(r)) << r;

    EXPECT_EQ(idx("/IXODELETEREF?docs=/d/C%2B%2B%20notes.txt+/d/a%26b.txt+/d/%2541.txt"),
              "DELETED=3\n");
    EXPECT_FALSE(has("/d/C++ notes.txt"));
    EXPECT_FALSE(has("/d/a&b.txt"));
    EXPECT_FALSE(has("/d/%41.txt"));
    EXPECT_TRUE(has("/d/A.txt"));  // not what "%2541" decodes to a second time
    EXPECT_TRUE(has("/d/C"));      // not a piece of the encoded "C++ notes.txt"

    // Unencoded lists from older clients: '+' separates, with a database parameter.
    EXPECT_EQ(idx("/IXODELETEREF?docs=/d/plain1.txt+/d/plain2.txt+&dbname=default"), "DELETED=2\n");
    EXPECT_TRUE(has("/d/keep.txt"));

    // Document numbers (1 to 8 in the order sent): '+' separates as sent, ',' and
    // blanks also when encoded, as before.
    EXPECT_EQ(idx("/IXODELETEDOC?docs=4%2C5+8+"), "DELETED=3\n");
    EXPECT_FALSE(has("/d/A.txt"));
    EXPECT_FALSE(has("/d/keep.txt"));
}

TEST_F(DispatchTest, DatabasesBackupAndRestore) {
    addCorpus();
    EXPECT_EQ(idx("/IXOCREATEDBASE?news"), "DATABASE=2\n");
    EXPECT_EQ(idx("/IXOCREATEDBASE?news"), "DATABASE=2\n");
    EXPECT_NE(idx("/IXOADD?" + dir.file("missing.idx")).find("ERROR"), std::string::npos);
    testing_support::writeWholeFile(
        dir.file("news.idx"), idxDoc("n1", "News one", "Markets rally") +
                                  idxDoc("n1", "News one", "Second section", "#IXOSECTION 1\n"));
    EXPECT_NE(idx("/IXOADD?" + dir.file("news.idx") + "&IXODBNAME=news").find("DOCUMENTS=2"),
              std::string::npos);
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=market+section&attachtoname=news")).size(), 2u);
    // KILLDUPLICATES=REFERENCE drops the sections not sent again.
    testing_support::writeWholeFile(dir.file("news2.idx"),
                                    idxDoc("n1", "News one", "Markets fall"));
    idx("/IXOADD?" + dir.file("news2.idx") + "&KILLDUPLICATES=REFERENCE&IXODBNAME=news");
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=market+section&attachtoname=news")).size(), 1u);

    EXPECT_EQ(idx("/IXOBACKUP?snap1"), "BACKUP=snap1\n");
    EXPECT_NE(idx("/IXOBACKUP?../escape").find("ERROR"), std::string::npos);
    EXPECT_EQ(idx("/IXODELDBASE?news"), "DELETED=1\n");
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=market&attachtoname=news")).size(), 0u);
    EXPECT_NE(q("/qmethod=V").find("DATABASES=3["), std::string::npos);
    EXPECT_EQ(idx("/IXOREMOVEDBASE?mail"), "DELETED=1\n");
    EXPECT_NE(q("/qmethod=V").find("DATABASES=2[default,news]"), std::string::npos);

    EXPECT_EQ(idx("/IXOINITIAL?snap1"), "RESTORED=snap1\n");
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=market&attachtoname=news")).size(), 1u);
    EXPECT_NE(q("/qmethod=V").find("DATABASES=3[default,mail,news]"), std::string::npos);
    EXPECT_NE(idx("/IXOINITIAL?nosuch").find("ERROR"), std::string::npos);
    EXPECT_EQ(hitsOf(q("/qmethod=q&querytext=market")).size(), 1u);

    EXPECT_EQ(idx("/IXORESET"), "RESET\n");
    EXPECT_NE(q("/qmethod=V").find("DOCNUM=0\n"), std::string::npos);
    // Ids are not reused after a reset (the highest so far was 5).
    std::string added = idx("/IXOADDDATA? ", idxDoc("z", "Z", "zzz"));
    EXPECT_NE(added.find("DOCIDS=6\n"), std::string::npos) << added;
}

TEST_F(DispatchTest, IndexCommandsNeedTheConfiguredUser) {
    config.indexUser = "u";
    config.indexPassword = "secret";
    EXPECT_EQ(idx("/IXOCREATEDBASE?x").find("DATABASE="), std::string::npos);
    EXPECT_EQ(idx("/IXOCREATEDBASE?x&user=u&pass=wrong").find("DATABASE="), std::string::npos);
    EXPECT_EQ(idx("/IXOCREATEDBASE?x&user=u&pass=secret"), "DATABASE=1\n");
}

TEST_F(DispatchTest, CommittedDocumentsAreSeenWithinASecond) {
    HttpRequestData r;
    r.method = "POST";
    r.target = "/IXOADDDATA? ";
    r.body = idxDoc("late", "Late", "quokka");
    ASSERT_NE(dispatcher->handle(PortKind::Index, r, true).reply.body.find("INDEXID"),
              std::string::npos);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    bool seen = false;
    while (!seen && std::chrono::steady_clock::now() < until) {
        seen = hitsOf(q("/qmethod=q&querytext=quokka")).size() == 1;
        if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(seen);
}
