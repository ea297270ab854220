// Documents of several XML and delimited files sent to one ixoserver: each keeps a
// reference of its own (the file's, with its record number for delimited files), so
// none replaces another and every one is found.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "import/delimitedparse.h"
#include "import/importctrl.h"
#include "import/xmlparser.h"
#include "ixo.h"
#include "tests/common/server_child.h"
#include "tests/common/tempdir.h"

using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

namespace {

using namespace std::chrono_literals;

#ifdef IXOSERVER_BIN
// The references the server finds for a term, once there are `expected` of them
// (waiting up to five seconds for its batched commits).
std::vector<std::string> found(int port, const std::string& term, size_t expected) {
    IXO ixo{};
    ixoCreateIxo(&ixo, "127.0.0.1", nullptr, port, port);
    std::vector<std::string> refs;
    const auto until = std::chrono::steady_clock::now() + 5s;
    do {
        refs.clear();
        char* reply = nullptr;
        const std::string path = "/qmethod=q&querytext=" + term + "&qnum=50";
        int32_t rc =
            ixoRequestToDynBuffer2(&ixo, IXO_QUERY_PORT_SELECTOR, path.c_str(), nullptr, &reply);
        const std::string text = rc == 1 && reply ? reply : "";
        if (reply) memFree(reply);
        for (size_t p = 0; (p = text.find("Doc_name=", p)) != std::string::npos;) {
            p += 9;
            refs.push_back(text.substr(p, text.find('\n', p) - p));
        }
        if (refs.size() >= expected) break;
        std::this_thread::sleep_for(50ms);
    } while (std::chrono::steady_clock::now() < until);
    ixoDestroyIxo(&ixo);
    std::sort(refs.begin(), refs.end());
    return refs;
}
#endif

TEST(XmlAndDelimitedOnAServer, EveryDocumentOfEveryFileIsFound) {
#ifndef IXOSERVER_BIN
    GTEST_SKIP() << "ixoserver is not built";
#else
    TempDir dir;
    // Two XML files and two delimited files, none naming a reference of its own.
    writeWholeFile(dir.file("one.xml"), "<note><text>marmalade recipe from one</text></note>");
    writeWholeFile(dir.file("two.xml"), "<note><text>marmalade recipe from two</text></note>");
    writeWholeFile(dir.file("a.dlm"), "T:marmalade first of a\nT:marmalade second of a\n");
    writeWholeFile(dir.file("b.dlm"), "T:marmalade first of b\nT:marmalade second of b\n");

    imexInit();
    ImportContext* context = imexCreate();
    ASSERT_NE(context, nullptr);
    ASSERT_EQ(imexRegisterExtension(context, "xml", importXmlHandler, nullptr), 0);
    ASSERT_EQ(imexRegisterExtension(context, "dlm", importDelimitedHandler, nullptr), 0);
    ImportArgs args;
    args.outputFilename = dir.file("out.idx");
    ImportXmlRule text;
    text.field = "IXOCONTENT";
    text.tags = {"text"};
    text.stripTags = 1;
    text.entryOnly = 1;
    args.xmlRules = {text};
    ImportDelimited d;
    d.docEnd = "\n";
    d.names = {"IXOCONTENT"};
    d.starts = {"T:"};
    d.ends = {"\n"};
    args.delimited = d;
    args.inputs = {dir.file("one.xml"), dir.file("two.xml"), dir.file("a.dlm"), dir.file("b.dlm")};
    EXPECT_EQ(imexImport(context, &args, nullptr), 4);
    imexDestroy(context);

    testing_support::ServerChild server(IXOSERVER_BIN, dir.path() / "home",
                                        "QUERYPORT=0\nINDEXPORT=0\nCOMMITINTERVALMS=50\n");
    ASSERT_GT(server.indexPort, 0);
    IXO ixo{};
    ixoCreateIxo(&ixo, "127.0.0.1", nullptr, server.queryPort, server.indexPort);
    char reply[512];
    EXPECT_EQ(ixoIndexLocalFile(&ixo, args.outputFilename.c_str(), nullptr, reply, sizeof reply), 1)
        << reply;
    ixoDestroyIxo(&ixo);

    const std::vector<std::string> expected = {dir.file("a.dlm") + "#1", dir.file("a.dlm") + "#2",
                                               dir.file("b.dlm") + "#1", dir.file("b.dlm") + "#2",
                                               dir.file("one.xml"),      dir.file("two.xml")};
    std::vector<std::string> sorted = expected;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(found(server.queryPort, "marmalade", 6), sorted);
#endif
}

}  // namespace
