// The request parser, scrambling, request paths, reply framing, terms and IDX reading.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <string>

#include "server/httpreq.h"
#include "server/idxdoc.h"
#include "server/store.h"
#include "server/terms.h"

using namespace ixoserver;

namespace {

ParseStatus parse(const std::string& data, HttpRequestData& out, bool eof = false,
                  ParseLimits limits = {}) {
    return parseHttpRequest(data, limits, eof, out);
}

}  // namespace

TEST(RequestParser, AcceptsTheClientsRequestShapes) {
    HttpRequestData r;
    // A path with a trailing blank before the version (the add-data command).
    ASSERT_EQ(parse("POST /IXOADDDATA?  HTTP/1.0\r\nContent-Length: 5\r\n\r\nhello", r),
              ParseStatus::Complete);
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/IXOADDDATA?");
    EXPECT_EQ(r.body, "hello");

    // A path that ends in a line feed (the merge command without user parameters).
    ASSERT_EQ(parse("GET /IXOMERGE?all\n HTTP/1.0\r\nPragma: No-Cache\r\n\r\n", r),
              ParseStatus::Complete);
    EXPECT_EQ(r.target, "/IXOMERGE?all");
    EXPECT_EQ(headerValue(r, "pragma"), "No-Cache");

    // Terms joined by '+', bare line feeds as line ends, no version at all.
    ASSERT_EQ(parse("GET /qmethod=E&querytext=APPLE~+PEAR~+&qnum=6 HTTP/1.0\n\n", r),
              ParseStatus::Complete);
    EXPECT_EQ(r.target, "/qmethod=E&querytext=APPLE~+PEAR~+&qnum=6");
    ASSERT_EQ(parse("GET /qmethod=V\r\n\r\n", r), ParseStatus::Complete);
    EXPECT_EQ(r.target, "/qmethod=V");
}

TEST(RequestParser, WaitsForMissingBytesAndRejectsTruncation) {
    HttpRequestData r;
    const std::string full = "POST /IXOADDDATA? HTTP/1.0\r\nContent-length: 10\r\n\r\n0123456789";
    for (size_t cut = 0; cut < full.size(); ++cut)
        EXPECT_EQ(parse(full.substr(0, cut), r), ParseStatus::Incomplete) << cut;
    EXPECT_EQ(parse(full, r), ParseStatus::Complete);
    // The peer closed the connection before the announced body arrived.
    EXPECT_EQ(parse(full.substr(0, full.size() - 3), r, true), ParseStatus::Bad);
    // POST without a length takes everything up to the end of the connection.
    ASSERT_EQ(parse("POST /IXOREPLACE HTTP/1.0\r\n\r\nbody bytes", r, true), ParseStatus::Complete);
    EXPECT_EQ(r.body, "body bytes");
}

TEST(RequestParser, RejectsGarbageAndOversizedRequests) {
    HttpRequestData r;
    EXPECT_EQ(parse("\x01\x02garbage\r\n\r\n", r), ParseStatus::Bad);
    EXPECT_EQ(parse("get /x HTTP/1.0\r\n\r\n", r), ParseStatus::Bad);
    EXPECT_EQ(parse("GET nopath HTTP/1.0\r\n\r\n", r), ParseStatus::Bad);
    EXPECT_EQ(parse("GET  HTTP/1.0\r\n\r\n", r), ParseStatus::Bad);
    EXPECT_EQ(parse("POST /x HTTP/1.0\r\nContent-Length: 12abc\r\n\r\n", r), ParseStatus::Bad);
    EXPECT_EQ(parse("POST /x HTTP/1.0\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd", r),
              ParseStatus::Bad);
    EXPECT_EQ(parse("POST /x HTTP/1.0\r\nContent-Length: 99999999999999999999\r\n\r\n", r),
              ParseStatus::Bad);

    ParseLimits small{1024, 100};
    EXPECT_EQ(parse("POST /x HTTP/1.0\r\nContent-Length: 101\r\n\r\n", r, false, small),
              ParseStatus::TooLarge);
    std::string huge = "GET /x HTTP/1.0\r\nX-Filler: " + std::string(2000, 'a') + "\r\n\r\n";
    EXPECT_EQ(parse(huge, r, false, small), ParseStatus::TooLarge);
    std::string endless = "GET /" + std::string(2000, 'a');
    EXPECT_EQ(parse(endless, r, false, small), ParseStatus::TooLarge);
}

TEST(Scrambling, RoundTripsAndRefusesDamage) {
    const std::string plain = "/qmethod=E&querytext=APPLE~+PEAR~+&qnum=6&idnum=0";
    const std::string scrambled = scrambleTarget(plain);
    ASSERT_EQ(scrambled.rfind("/HLVN", 0), 0u);
    std::string back;
    ASSERT_TRUE(unscrambleTarget(scrambled, back));
    EXPECT_EQ(back, plain);

    // The first six decoded bytes are the zero-padded checksum.
    std::string block;
    ASSERT_TRUE(decodeBase64(scrambled.substr(5), block));
    char digits[16];
    std::snprintf(digits, sizeof digits, "%06d", scrambleChecksum(plain));
    EXPECT_EQ(block.substr(0, 6), digits);

    // An absolute target keeps its scheme and host.
    ASSERT_TRUE(unscrambleTarget(scrambleTarget("http://127.0.0.1:6223" + plain), back));
    EXPECT_EQ(back, "http://127.0.0.1:6223" + plain);

    // A changed byte breaks the checksum; bad Base64 and short blocks are refused.
    std::string damaged = scrambled;
    damaged[10] = damaged[10] == 'A' ? 'B' : 'A';
    EXPECT_FALSE(unscrambleTarget(damaged, back));
    EXPECT_FALSE(unscrambleTarget("/HLVN!!!!", back));
    EXPECT_FALSE(unscrambleTarget("/HLVN" + encodeBase64("123"), back));
    EXPECT_FALSE(unscrambleTarget("/HLVN", back));

    // Bytes with the high bit set count as negative values in the checksum.
    EXPECT_EQ(scrambleChecksum(std::string("\xff\x01", 2)), 0);
    ASSERT_TRUE(unscrambleTarget(scrambleTarget("/qmethod=q&querytext=caf\xe9"), back));
    EXPECT_EQ(back, "/qmethod=q&querytext=caf\xe9");
}

TEST(RequestPath, SplitsCommandsAndParameters) {
    RequestPath p = splitRequestPath("/qmethod=E&querytext=A~+B~+&qnum=6&fnameIXOREFERENCE=c:\\x");
    EXPECT_EQ(p.command, "");
    ASSERT_NE(p.find("querytext"), nullptr);
    EXPECT_EQ(*p.find("querytext"), "A~+B~+");
    EXPECT_EQ(*p.find("fnameIXOREFERENCE"), "c:\\x");

    p = splitRequestPath(
        "/IXOADD?C%3A%5Cmy%20docs%5Ca.idx&KILLDUPLICATES=REFERENCE&IXODBNAME=mail");
    EXPECT_EQ(p.command, "IXOADD");
    ASSERT_FALSE(p.params.empty());
    EXPECT_EQ(p.params[0].first, "");
    EXPECT_EQ(p.params[0].second, "C:\\my docs\\a.idx");
    EXPECT_EQ(*p.find("IXODBNAME"), "mail");

    p = splitRequestPath("/IXOADDDATA? ");
    EXPECT_EQ(p.command, "IXOADDDATA");
    EXPECT_TRUE(p.params.empty());
    EXPECT_EQ(percentDecode("100%+%4g%41"), "100%+%4gA");
}

TEST(RequestPath, EncodedListsSplitBeforeDecoding) {
    RequestPath p = splitRequestPath("/IXODELETEREF?docs=C%2B%2B%20notes.txt+a+b&dbname=x%26y");
    ASSERT_NE(p.findRaw("docs"), nullptr);
    EXPECT_EQ(*p.findRaw("docs"), "C%2B%2B%20notes.txt+a+b");
    EXPECT_EQ(*p.find("docs"), "C++ notes.txt+a+b");
    EXPECT_EQ(*p.findRaw("dbname"), "x%26y");
    EXPECT_EQ(*p.find("dbname"), "x&y");
    EXPECT_EQ(p.findRaw("nothing"), nullptr);

    EXPECT_EQ(splitEncodedList("C%2B%2B%20notes.txt+a+b", '+'),
              (std::vector<std::string>{"C++ notes.txt", "a", "b"}));
    // "%25" is the percent sign itself and is not decoded a second time; empty items
    // (a trailing separator) are dropped; a '%' without two hex digits stays as sent.
    EXPECT_EQ(splitEncodedList("%2541.txt++100%.txt+", '+'),
              (std::vector<std::string>{"%41.txt", "100%.txt"}));
    EXPECT_TRUE(splitEncodedList("", '+').empty());
}

TEST(Replies, CompressedFormInflatesToTheOriginal) {
    HttpReply reply;
    reply.body = "numhits=1\nDoc_name=x\n";
    for (int i = 0; i < 200; ++i) reply.body += "field=value value value\n";
    const std::string original = reply.body;
    ASSERT_TRUE(compressReply(reply));
    EXPECT_EQ(reply.contentType, "binary/compressed");
    ASSERT_GT(reply.body.size(), 8u);
    EXPECT_EQ(std::atoi(reply.body.substr(0, 8).c_str()), static_cast<int>(original.size()));
    std::string inflated(original.size() + 4, '\0');
    uLongf len = inflated.size();
    ASSERT_EQ(
        uncompress(reinterpret_cast<Bytef*>(inflated.data()), &len,
                   reinterpret_cast<const Bytef*>(reply.body.data() + 8), reply.body.size() - 8),
        Z_OK);
    inflated.resize(len);
    EXPECT_EQ(inflated, original);

    const std::string wire = serializeReply(reply);
    EXPECT_NE(wire.find("binary/compressed"), std::string::npos);
    EXPECT_NE(wire.find("Content-length: " + std::to_string(reply.body.size()) + "\r\n"),
              std::string::npos);
}

TEST(Terms, StemmingAndFilteringMatchTheClient) {
    auto stem = [](std::string w) {
        stemWord(w);
        return w;
    };
    EXPECT_EQ(stem("RUNNING"), "RUN");
    EXPECT_EQ(stem("BALLING"), "BALL");
    EXPECT_EQ(stem("HAPPY"), "HAPPI");
    EXPECT_EQ(stem("CATS"), "CAT");
    EXPECT_EQ(stem("GLASS"), "GLASS");
    EXPECT_EQ(stem("BOXES"), "BOXE");
    EXPECT_EQ(stem("ARGUMENT"), "ARGU");
    EXPECT_EQ(stem("AB"), "AB");
    EXPECT_EQ(stem("1999."), "1999");

    EXPECT_EQ(filterWord("the"), "");
    EXPECT_EQ(filterWord("Running!"), "RUN");
    EXPECT_EQ(filterWord("RUNNING~"), "RUNNING");          // marked as stemmed already
    EXPECT_EQ(filterWord(foldText("\xc9t\xe9s")), "ETE");  // accents become ASCII first

    std::vector<std::string> terms;
    textToTerms("The caf\xe9 is running; apples, APPLES and the 2nd-floor.", terms);
    // "2nd-floor." is one client word (2NDFLOOR); its parts are terms as well.
    EXPECT_EQ(terms, (std::vector<std::string>{"CAFE", "RUN", "APPL", "APPL", "2NDFLOOR", "2ND",
                                               "FLOOR"}));

    auto q = parseQueryText("APPLE~+pears+QNUM=6+house~[250]+the", false);
    ASSERT_EQ(q.size(), 3u);
    EXPECT_EQ(q[0].term, "APPLE");
    EXPECT_EQ(q[1].term, "PEAR");
    EXPECT_EQ(q[2].term, "HOUSE");
    EXPECT_DOUBLE_EQ(q[2].weight, 2.5);
}

TEST(IdxText, ReadsBothTitleLayoutsFieldsAndSeveralDocuments) {
    const std::string text =
        "#IXOREFERENCE c:\\docs\\a.txt\r\n#IXOTITLE\nFirst title\n#IXOSECTION 0\n"
        "#IXOTYPE EMAIL\n#IXODATE 1600000000 Sun\n#IXOFIELD From=\"Ann = Lee\"\n"
        "#IXOSTORECONTENT YES\n#IXOCONTENT\nline one\nline two\n#IXOENDDOC\n"
        "#IXOREFERENCE b\n#IXOTITLE Second title\n#IXOSTORECONTENT no\n#IXOCONTENT\nbody\n"
        "#IXOENDDOC\n#IXOENDDATA\n#IXOREFERENCE ignored\n#IXOENDDOC\n";
    auto docs = parseIdxText(text);
    ASSERT_EQ(docs.size(), 2u);
    EXPECT_EQ(docs[0].reference, "c:\\docs\\a.txt");
    EXPECT_EQ(docs[0].title, "First title");
    EXPECT_EQ(docs[0].section, 0);
    EXPECT_EQ(docs[0].type, "EMAIL");
    EXPECT_EQ(parseIdxDate(docs[0].date), 1600000000);
    ASSERT_EQ(docs[0].fields.size(), 1u);
    EXPECT_EQ(docs[0].fields[0].second, "Ann = Lee");
    EXPECT_TRUE(docs[0].storeContent);
    EXPECT_EQ(docs[0].content, "line one\nline two");
    EXPECT_EQ(docs[1].title, "Second title");
    EXPECT_FALSE(docs[1].storeContent);

    // Written and read back, a document keeps its values.
    auto again = parseIdxText(writeIdxText(docs[0]));
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].content, docs[0].content);
    EXPECT_EQ(again[0].fields, docs[0].fields);

    auto xml = parseIdxText(
        "<IXODOC>\n<IXOREFERENCE>x.html</IXOREFERENCE>\n<IXOTITLE>\nT</IXOTITLE>\n"
        "<IXOFIELD NAME=author>Bo</IXOFIELD>\n<IXOCONTENT>\nhello</IXOCONTENT>\n</IXODOC>\n");
    ASSERT_EQ(xml.size(), 1u);
    EXPECT_EQ(xml[0].reference, "x.html");
    EXPECT_EQ(xml[0].title, "T");
    EXPECT_EQ(xml[0].content, "hello");
    ASSERT_EQ(xml[0].fields.size(), 1u);

    EXPECT_EQ(parseIdxDate("2020-01-02"), 1577923200);
    EXPECT_EQ(parseIdxDate("02/01/2020"), 1577923200);
    EXPECT_EQ(parseIdxDate("someday"), -1);
}

TEST(StoredData, RoundTripsAndRefusesDamagedRecords) {
    IdxDocument d;
    d.reference = "r";
    d.title = "t";
    d.content = std::string(300, 'x');
    d.fields = {{"a", "1"}, {"b", ""}};
    IdxDocument back;
    const std::string data = encodeDocData(d);
    ASSERT_TRUE(decodeDocData(data, back));
    EXPECT_EQ(back.content, d.content);
    EXPECT_EQ(back.fields, d.fields);
    for (size_t cut = 1; cut < 12; ++cut) {
        IdxDocument partial;
        decodeDocData(data.substr(0, data.size() - cut), partial);  // must not read past the end
    }
    EXPECT_FALSE(decodeDocData(std::string("c\xff\xff\xff\xff\x0f", 6), back));

    // Over-long references still give terms the index accepts, and distinct ones.
    const std::string longRef(1000, 'a');
    EXPECT_LE(referenceTerm(longRef).size(), 245u);
    EXPECT_NE(referenceTerm(longRef), referenceTerm(longRef + "b"));
}
