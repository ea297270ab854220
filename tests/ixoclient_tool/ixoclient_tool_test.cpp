// The ixoclient program as a user runs it, against an ixoserver started on loopback
// ports: indexing, queries, suggestions, deletion by reference and number, stored
// content, information and shutdown, and its errors.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "tests/common/tempdir.h"
#include "tests/ixoindex_tool/server_process.h"

namespace {

using ixoindex_testing::runCommand;
using ixoindex_testing::ServerProcess;

class IxoclientTool : public ::testing::Test {
  protected:
    void SetUp() override {
        server.emplace(dir.path() / "home");
        ASSERT_NE(server->queryPort, 0) << "ixoserver did not start";
        client = std::string(IXOCLIENT_BIN) + " --port " + std::to_string(server->queryPort) +
                 " --index-port " + std::to_string(server->indexPort) + " ";
    }

    // Runs ixoclient with arguments; the exit status, with output in *out.
    int run(const std::string& args, std::string* out) { return runCommand(client + args, out); }

    // Query output once the index shows (or stops showing) text, within 10 seconds.
    std::string queryUntil(const std::string& words, const std::string& text, bool present) {
        std::string out;
        for (int i = 0; i < 200; ++i) {
            run("query " + words, &out);
            if ((out.find(text) != std::string::npos) == present) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return out;
    }

    testing_support::TempDir dir;
    std::optional<ServerProcess> server;
    std::string client;
};

TEST_F(IxoclientTool, IndexesQueriesDeletesAndStops) {
    const auto idx = dir.path() / "docs.idx";
    testing_support::writeWholeFile(
        idx.string(),
        "#IXOREFERENCE /d/C++ notes.txt\n#IXOTITLE\nTemplates\n#IXOCONTENT\n"
        "templates overload resolution zebrafinch\n#IXOENDDOC\n"
        "#IXOREFERENCE /d/C\n#IXOTITLE\nLetter C\n#IXOCONTENT\n"
        "the letter zebrafinch alphabet\n#IXOENDDOC\n"
        "#IXOREFERENCE /d/garden.txt\n#IXOTITLE\nGarden\n#IXOCONTENT\n"
        "tomatoes basil watering schedule\n#IXOENDDOC\n");
    std::string out;
    ASSERT_EQ(run("index " + idx.string(), &out), 0) << out;
    EXPECT_NE(out.find("INDEXID"), std::string::npos) << out;

    // One line per result: weight, tab, title, tab, reference.
    out = queryUntil("zebrafinch", "/d/C\n", true);
    EXPECT_NE(out.find("\tTemplates\t/d/C++ notes.txt\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\tLetter C\t/d/C\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("garden"), std::string::npos) << out;

    ASSERT_EQ(run("suggest watering the tomatoes and the basil", &out), 0) << out;
    EXPECT_EQ(out.find("\tGarden\t/d/garden.txt"), out.find('\t')) << out;

    ASSERT_EQ(run("content /d/garden.txt", &out), 0) << out;
    EXPECT_NE(out.find("watering schedule"), std::string::npos) << out;

    // A reference holding '+' and a blank is deleted, and only it: "/d/C" stays.
    ASSERT_EQ(run("delete --refs '/d/C++ notes.txt'", &out), 0) << out;
    out = queryUntil("zebrafinch", "Templates", false);
    EXPECT_EQ(out.find("Templates"), std::string::npos) << out;
    EXPECT_NE(out.find("\t/d/C\n"), std::string::npos) << out;

    ASSERT_EQ(run("info", &out), 0) << out;
    EXPECT_FALSE(out.empty());

    ASSERT_EQ(run("shutdown", &out), 0) << out;
    EXPECT_EQ(server->waitExit(), 0);
}

// UTF-8 on the command line reaches the single-byte libraries as Windows-1252, and
// Windows-1252 titles reach a UTF-8 terminal as UTF-8.
TEST_F(IxoclientTool, Utf8InAndOut) {
    const auto idx = dir.path() / "cafe.idx";
    testing_support::writeWholeFile(idx.string(),
                                    "#IXOREFERENCE /d/cafe.txt\n#IXOTITLE\nCaf\xE9 an der Stra\xDF"
                                    "e \x80\n#IXOCONTENT\nStra\xDF"
                                    "enbahn caf\xE9 zebrafinch\n#IXOENDDOC\n");
    std::string out;
    ASSERT_EQ(run("index " + idx.string(), &out), 0) << out;
    client = "LC_ALL=C.UTF-8 " + client;

    ASSERT_EQ(run("process \"Stra\xC3\x9F"
                  "e\"",
                  &out),
              0)
        << out;
    EXPECT_EQ(out, "STRASS~+\n");  // not the "STRAA~+E~+" of raw UTF-8 bytes

    out = queryUntil("zebrafinch", "cafe", true);
    EXPECT_NE(out.find("\tCaf\xC3\xA9 an der Stra\xC3\x9F"
                       "e \xE2\x82\xAC\t/d/cafe.txt\n"),
              std::string::npos)
        << out;
    // A UTF-8 query word finds the document whose text is Windows-1252.
    ASSERT_EQ(run("query \"caf\xC3\xA9\"", &out), 0) << out;
    EXPECT_NE(out.find("/d/cafe.txt"), std::string::npos) << out;
    ASSERT_EQ(run("content /d/cafe.txt", &out), 0) << out;
    EXPECT_NE(out.find("TITLE: Caf\xC3\xA9 an der Stra\xC3\x9F"
                       "e \xE2\x82\xAC\n"),
              std::string::npos)
        << out;
}

TEST_F(IxoclientTool, ErrorsGiveMessagesAndNonZeroStatus) {
    std::string out;
    EXPECT_EQ(run("delete --ids 12 x7", &out), 2);
    EXPECT_NE(out.find("not a document number: x7"), std::string::npos) << out;
    EXPECT_EQ(run("delete", &out), 2);
    EXPECT_NE(run("index " + (dir.path() / "missing.idx").string(), &out), 0);
    EXPECT_FALSE(out.empty());

    // Nothing listens on the stopped server's ports.
    ASSERT_EQ(run("shutdown", &out), 0) << out;
    ASSERT_EQ(server->waitExit(), 0);
    EXPECT_NE(run("query anything", &out), 0);
    EXPECT_NE(out.find("ixoclient"), std::string::npos) << out;
}

}  // namespace

namespace {

// A server with the index and query pairs it generated, or pairs set by hand that hold
// bytes a request path gives meaning to: --home reads them (and the ports) from its
// folder and sends each where it belongs; without them nothing passes.
void sendsTheServersPairs(const std::string& settings) {
    testing_support::TempDir dir;
    const auto home = dir.path() / "home";
    ixoindex_testing::ServerProcess server(home, settings);
    ASSERT_NE(server.queryPort, 0) << "ixoserver did not start";
    const auto idx = dir.path() / "doc.idx";
    testing_support::writeWholeFile(
        idx.string(), "#IXOREFERENCE /d/a.txt\n#IXOCONTENT\nquokka wallaby\n#IXOENDDOC\n");
    const std::string bin = std::string(IXOCLIENT_BIN);
    const std::string byPorts = bin + " --port " + std::to_string(server.queryPort) +
                                " --index-port " + std::to_string(server.indexPort) + " ";
    const std::string byHome = bin + " --home " + home.string() + " ";
    struct Case {
        std::string command;
        int status;
        const char* output;  // expected in the output when not null
    };
    const Case cases[] = {
        {byPorts + "index " + idx.string(), 1, nullptr},
        {byHome + "index " + idx.string(), 0, "INDEXID"},
        {byPorts + "query quokka", 1, nullptr},
        {byHome + "query quokka", 0, "\t/d/a.txt\n"},
        {byHome + "info", 0, "DOCNUM: 1\n"},
        {byHome + "/qmethod=V", 0, "DOCNUM"},
        {byHome + "--index /IXOFINISHEDINDEX", 0, nullptr},
        {byHome + "delete --refs /d/none.txt", 0, nullptr},
        {bin + " --home " + (dir.path() / "none").string() + " info", 2, nullptr},
        {byPorts + "shutdown", 1, nullptr},
        {byHome + "shutdown", 0, nullptr},
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(ixoindex_testing::runCommand(c.command, &out), c.status) << c.command << out;
        if (c.output) {
            EXPECT_NE(out.find(c.output), std::string::npos) << c.command << out;
        }
    }
    EXPECT_EQ(server.waitExit(), 0);
}

TEST(IxoclientHome, SendsTheServersPairs) {
    sendsTheServersPairs("INDEXAUTH=ON\nQUERYAUTH=ON\n");
    sendsTheServersPairs(
        "INDEXUSER=ann\nINDEXPASSWORD=p&ss w%rd+1\nQUERYUSER=q=u\nQUERYPASSWORD=a?b&c\n");
}

}  // namespace
