// The client handle's set-up and tear-down, and requests through it on the wire:
// methods, ports, scrambling, compressed replies, cuts and failures.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <thread>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>

#include "ixo.h"
#include "ixo/ixoapi.h"
#include "support/diaglog.h"
#include "support/strutil.h"
#include "tests/common/loopback_server.h"
#include "tests/common/tempdir.h"

using testing_support::LoopbackServer;
using Clock = std::chrono::steady_clock;

namespace {

std::string repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

// A handle set up for one loopback server (query port) and released at the end.
struct Handle {
    IXO ixo{};
    explicit Handle(int queryPort, int indexPort = 0) {
        EXPECT_EQ(ixoCreateIxo(&ixo, "127.0.0.1", nullptr, queryPort, indexPort), IXO_OK);
        ixoSetHTTPTimeOut(&ixo, 5, 1000);
    }
    ~Handle() { ixoDestroyIxo(&ixo); }
};

// Sends request and returns (code, reply text).
std::pair<int32_t, std::string> request(IXO* ixo, const char* text, const char* post = nullptr,
                                        int32_t selector = IXO_QUERY_PORT_SELECTOR) {
    char* reply = reinterpret_cast<char*>(1);
    int32_t rc = ixoRequestToDynBuffer2(ixo, selector, text, post, &reply);
    std::string out;
    if (rc == IXO_OK) {
        EXPECT_NE(reply, nullptr);
        out = reply;
        memFree(reply);
    } else {
        EXPECT_EQ(reply, nullptr);
    }
    return {rc, out};
}

// "%08d" of the plain length followed by the zlib stream of plain.
std::string compressedBody(const std::string& plain, long prefixLength = -1) {
    uLongf size = compressBound(plain.size());
    std::string packed(size, '\0');
    EXPECT_EQ(compress(reinterpret_cast<Bytef*>(packed.data()), &size,
                       reinterpret_cast<const Bytef*>(plain.data()), plain.size()),
              Z_OK);
    packed.resize(size);
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%08ld",
                  prefixLength < 0 ? static_cast<long>(plain.size()) : prefixLength);
    return std::string(prefix, 8) + packed;
}

std::string compressedReply(const std::string& body, long claimed) {
    return "HTTP/1.0 200 OK\r\nContent-Type: Binary/Compressed\r\nContent-length: " +
           std::to_string(claimed) + "\r\n\r\n" + body;
}

// Decodes a scrambled segment "/HLVN<base64>" back to (checksum text, plain segment).
std::pair<std::string, std::string> unscramble(const std::string& encoded) {
    int32_t length = 0;
    unsigned char* bytes = strBase64Decode(encoded.c_str(), &length);
    EXPECT_NE(bytes, nullptr);
    if (bytes == nullptr || length < 6) return {};
    std::string checksum(reinterpret_cast<char*>(bytes), 6);
    std::string plain;
    for (int32_t i = 6; i < length; ++i) plain.push_back(static_cast<char>(bytes[i] ^ 0x5A));
    memFree(bytes);
    return {checksum, plain};
}

int expectedChecksum(const std::string& segment) {
    int c = 0;
    for (char ch : segment) c = (c + static_cast<signed char>(ch)) % 999999;
    return c;
}

}  // namespace

TEST(IxoHandle, CreateFillsBothNamesAndDefaults) {
    IXO ixo;
    std::memset(&ixo, 0x7f, sizeof ixo);
    ASSERT_EQ(ixoCreateIxo(&ixo, nullptr, "10.1.2.3", 8000, 8001), IXO_OK);
    EXPECT_STREQ(ixo.host, "10.1.2.3");
    EXPECT_STREQ(ixo.address, "10.1.2.3");
    EXPECT_EQ(ixo.queryPort, 8000);
    EXPECT_EQ(ixo.indexPort, 8001);
    EXPECT_EQ(ixo.timeout, 60);
    EXPECT_EQ(ixo.secondTimeout, 1000);
    EXPECT_STREQ(ixo.user, "");
    EXPECT_EQ(ixo.requestMethod, 0);
    EXPECT_STREQ(ixo.proxyHost, "");
    EXPECT_EQ(ixo.encryption, nullptr);
    EXPECT_EQ(ixo.clientCache, nullptr);
    EXPECT_EQ(ixo.cacheLock, nullptr);

    ASSERT_EQ(ixoCreateIxo(&ixo, "search.example", "", 1, 2), IXO_OK);
    EXPECT_STREQ(ixo.host, "search.example");
    EXPECT_STREQ(ixo.address, "search.example");
    ASSERT_EQ(ixoCreateIxo(&ixo, "search.example", "10.0.0.1", 1, 2), IXO_OK);
    EXPECT_STREQ(ixo.host, "search.example");
    EXPECT_STREQ(ixo.address, "10.0.0.1");

    EXPECT_EQ(ixoCreateIxo(&ixo, nullptr, nullptr, 1, 2), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoCreateIxo(&ixo, "", "", 1, 2), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoCreateIxo(nullptr, "h", "a", 1, 2), IXO_ERR_PARAMETER);

    // A name that does not fit is refused, not cut (a cut name is another host), and
    // the handle keeps what it had.
    const std::string host49(49, 'n');
    ASSERT_EQ(ixoCreateIxo(&ixo, host49.c_str(), nullptr, 1, 2), IXO_OK);
    EXPECT_EQ(std::string(ixo.host), host49);
    const std::string host68 =
        "a-very-long-host-name-for-the-retrieval-server.intranets.example.org";
    ASSERT_EQ(host68.size(), 68u);
    EXPECT_EQ(ixoCreateIxo(&ixo, host68.c_str(), nullptr, 3, 4), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoCreateIxo(&ixo, "h", host68.c_str(), 3, 4), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoCreateIxo(&ixo, "h\r\nX-Injected: yes", nullptr, 3, 4), IXO_ERR_PARAMETER);
    EXPECT_EQ(std::string(ixo.host), host49);
    EXPECT_EQ(ixo.queryPort, 1);
    ixoDestroyIxo(&ixo);
}

TEST(IxoHandle, ProxySettingsKeepOrIgnoreByLength) {
    IXO ixo{};
    ASSERT_EQ(ixoCreateIxo(&ixo, "h", nullptr, 1, 2), IXO_OK);
    std::string host49(49, 'p');
    std::string host50(50, 'q');
    ASSERT_EQ(ixoAddProxySettings(&ixo, host49.c_str(), 3128, "user", "pw"), IXO_OK);
    // Too long: refused, and the previous proxy stays. Null names no proxy at all.
    std::string user50(50, 'u');
    EXPECT_EQ(ixoAddProxySettings(&ixo, host50.c_str(), 1, "x", "y"), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoAddProxySettings(&ixo, "proxy", 1, user50.c_str(), "y"), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoAddProxySettings(&ixo, "proxy", 1, "x", user50.c_str()), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoAddProxySettings(&ixo, "pro xy", 1, "x", "y"), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoAddProxySettings(&ixo, nullptr, 1, "x", "y"), IXO_OK);
    EXPECT_EQ(std::string(ixo.proxyHost), host49);
    EXPECT_EQ(ixo.proxyPort, 3128);
    EXPECT_STREQ(ixo.proxyUser, "user");
    // Empty user and password clear them.
    ASSERT_EQ(ixoAddProxySettings(&ixo, "proxy", 8080, "", nullptr), IXO_OK);
    EXPECT_STREQ(ixo.proxyUser, "");
    EXPECT_STREQ(ixo.proxyPassword, "");
    EXPECT_EQ(ixoAddProxySettings(nullptr, "proxy", 1, nullptr, nullptr), IXO_ERR_PARAMETER);

    // Zero and negative waits are refused rather than replaced by 60 s later.
    EXPECT_EQ(ixoSetHTTPTimeOut(&ixo, 0, 5), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoSetHTTPTimeOut(&ixo, 5, 0), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoSetHTTPTimeOut(&ixo, -5, 5), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoSetHTTPTimeOut(&ixo, 5, -1), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixo.timeout, 60);
    EXPECT_EQ(ixoSetHTTPTimeOut(&ixo, 7, 9), IXO_OK);

    // Replacing the scrambling mode releases the old one (checked by the leak checker).
    EXPECT_EQ(ixoSetEncryption(&ixo, 1, "ignored"), IXO_OK);
    EXPECT_EQ(ixoSetEncryption(&ixo, 2, nullptr), IXO_OK);
    ASSERT_NE(ixo.encryption, nullptr);
    EXPECT_EQ(*ixo.encryption, 2);
    EXPECT_EQ(ixoSetEncryption(nullptr, 1, nullptr), IXO_ERR_PARAMETER);

    ASSERT_EQ(ixoDestroyIxo(&ixo), IXO_OK);
    EXPECT_STREQ(ixo.host, "");
    EXPECT_EQ(ixo.encryption, nullptr);
    EXPECT_EQ(ixoDestroyIxo(nullptr), IXO_ERR_PARAMETER);
}

TEST(IxoHandle, UserParametersStayWithinTheirRoom) {
    IXO ixo{};
    ASSERT_EQ(ixoCreateIxo(&ixo, "h", nullptr, 1, 2), IXO_OK);
    EXPECT_EQ(ixoGetUserParameterLength(nullptr), 30);
    EXPECT_EQ(ixoGetUserParameterLength(&ixo), 30);
    {
        char request[64] = "/q";
        ASSERT_EQ(ixoDoUserParameters(&ixo, request), IXO_OK);
        EXPECT_STREQ(request, "/q");
    }
    ASSERT_EQ(ixoSetUserParameters(&ixo, "ann", nullptr, "", "dom"), IXO_OK);
    ASSERT_EQ(ixoSetUserParameters(&ixo, nullptr, "pw", nullptr, nullptr), IXO_OK);
    EXPECT_EQ(ixoGetUserParameterLength(&ixo), 30 + 3 * (3 + 2 + 3));
    {
        char request[64] = "/q";
        ASSERT_EQ(ixoDoUserParameters(&ixo, request), IXO_OK);
        EXPECT_STREQ(request, "/q&user=ann&pass=pw&domain=dom");
    }
    // Bytes that would end or change a parameter are encoded; the rest go as they are.
    ASSERT_EQ(ixoSetUserParameters(&ixo, nullptr, "a&b=c+d %e#?\x01-_.!", nullptr, nullptr),
              IXO_OK);
    {
        char request[128] = "/q";
        ASSERT_EQ(ixoDoUserParameters(&ixo, request), IXO_OK);
        EXPECT_STREQ(request, "/q&user=ann&pass=a%26b%3Dc%2Bd%20%25e%23%3F%01-_.!&domain=dom");
    }
    // Over-long texts are refused whole: nothing is cut, nothing changes.
    std::string huge(150, 'x');
    EXPECT_EQ(ixoSetUserParameters(&ixo, "bob", nullptr, nullptr, huge.c_str()), IXO_ERR_PARAMETER);
    EXPECT_STREQ(ixo.user, "ann");
    EXPECT_STREQ(ixo.domain, "dom");
    // Longest fields: the text and its terminator end inside the promised room.
    huge.resize(99);
    const std::string amps(99, '&');  // the password at its longest once encoded
    ASSERT_EQ(ixoSetUserParameters(&ixo, huge.c_str(), amps.c_str(), huge.c_str(), huge.c_str()),
              IXO_OK);
    EXPECT_EQ(std::strlen(ixo.user), 99u);
    int32_t room = ixoGetUserParameterLength(&ixo);
    EXPECT_EQ(room, 30 + 3 * 4 * 99);
    std::string base = "/qmethod=V";
    std::string buffer(base.size() + static_cast<size_t>(room) + 16, '#');
    std::memcpy(buffer.data(), base.c_str(), base.size() + 1);
    ASSERT_EQ(ixoDoUserParameters(&ixo, buffer.data()), IXO_OK);
    std::string x99(99, 'x');
    EXPECT_EQ(std::string(buffer.c_str()), base + "&user=" + x99 + "&pass=" + repeat("%26", 99) +
                                               "&group=" + x99 + "&domain=" + x99);
    EXPECT_LE(std::strlen(buffer.c_str()) + 1, base.size() + static_cast<size_t>(room));
    EXPECT_EQ(buffer.substr(base.size() + static_cast<size_t>(room)), std::string(16, '#'));
    EXPECT_EQ(ixoDoUserParameters(nullptr, buffer.data()), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoSetUserParameters(nullptr, "a", "b", "c", "d"), IXO_ERR_PARAMETER);
    ixoDestroyIxo(&ixo);
}

TEST(IxoHandle, VersionsAndErrorTexts) {
    int32_t a = -1, b = -1, c = -1, d = -1;
    ASSERT_EQ(ixoGetVersion("3.12", "::4.7", &a, &b, &c, &d), IXO_OK);
    EXPECT_EQ(std::make_tuple(a, b, c, d), std::make_tuple(3, 12, 4, 7));
    ASSERT_EQ(ixoGetVersion("5", nullptr, &a, &b, &c, &d), IXO_OK);
    EXPECT_EQ(std::make_tuple(a, b, c, d), std::make_tuple(5, 0, 0, 0));
    ASSERT_EQ(ixoGetVersion("", ":", &a, &b, &c, &d), IXO_OK);
    EXPECT_EQ(std::make_tuple(a, b, c, d), std::make_tuple(0, 0, 0, 0));
    EXPECT_EQ(ixoGetVersion(nullptr, "1.2", &a, &b, &c, &d), IXO_ERR_PARAMETER);

    EXPECT_STREQ(ixoGetError(1), "No Error.");
    EXPECT_STREQ(ixoGetError(-3), "Couldn't retrieve results.");
    EXPECT_STREQ(ixoGetError(-10), "Wrong port. Check Query/Index ports.");
    EXPECT_STREQ(ixoGetError(-11), "Unknown IXO instruction. Check IXO version.");
    EXPECT_STREQ(ixoGetError(0), "Unknown Error.");
    EXPECT_STREQ(ixoGetError(-2), "Unknown Error.");
    EXPECT_STREQ(ixoGetError(2), "Unknown Error.");
}

TEST(IxoRequest, MethodsPortsAndBodiesOnTheWire) {
    LoopbackServer queryServer;
    LoopbackServer indexServer;
    queryServer.setReply(LoopbackServer::httpReply("query reply"));
    indexServer.setReply(LoopbackServer::httpReply("index reply"));
    Handle h(queryServer.port(), indexServer.port());

    EXPECT_EQ(request(&h.ixo, "/qmethod=V"), std::make_pair(IXO_OK, std::string("query reply")));
    EXPECT_EQ(queryServer.lastRequest(), "GET /qmethod=V HTTP/1.0\r\nPragma: No-Cache\r\n\r\n");
    EXPECT_EQ(request(&h.ixo, "/qmethod=V", "", 7).first,
              IXO_OK);  // any other selector: query port
    EXPECT_EQ(queryServer.requestCount(), 2u);

    EXPECT_EQ(request(&h.ixo, "/IXOADD?db=2", "#IXOREFERENCE x\n", IXO_INDEX_PORT_SELECTOR),
              std::make_pair(IXO_OK, std::string("index reply")));
    EXPECT_EQ(indexServer.lastRequest(),
              "POST /IXOADD?db=2 HTTP/1.0\r\nPragma: No-Cache\r\nContent-Length: "
              "16\r\n\r\n#IXOREFERENCE x\n");

    // The request-method field makes every request a POST, also without a body.
    h.ixo.requestMethod = 1;
    EXPECT_EQ(request(&h.ixo, "/qmethod=V").first, IXO_OK);
    EXPECT_EQ(queryServer.lastRequest(), "POST /qmethod=V HTTP/1.0\r\nPragma: No-Cache\r\n\r\n");

    // Bad arguments send nothing.
    std::size_t before = queryServer.requestCount();
    EXPECT_EQ(request(&h.ixo, nullptr).first, IXO_ERR_PARAMETER);
    EXPECT_EQ(request(nullptr, "/x").first, IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoRequestToDynBuffer2(&h.ixo, 0, "/x", nullptr, nullptr), IXO_ERR_PARAMETER);
    h.ixo.queryPort = -1;
    EXPECT_EQ(request(&h.ixo, "/x").first, IXO_ERR_PARAMETER);
    h.ixo.queryPort = 0;  // nothing to connect to
    EXPECT_EQ(request(&h.ixo, "/x").first, IXO_ERR_RETRIEVE);
    EXPECT_EQ(queryServer.requestCount(), before);
}

TEST(IxoRequest, ProxyCarriesAbsoluteUrlAndCredentials) {
    LoopbackServer proxy;
    proxy.setReply(LoopbackServer::httpReply("ok"));
    IXO ixo{};
    ASSERT_EQ(ixoCreateIxo(&ixo, "ixo.invalid", nullptr, 9000, 9001), IXO_OK);
    ASSERT_EQ(ixoAddProxySettings(&ixo, "127.0.0.1", proxy.port(), "pu", "pp"), IXO_OK);
    EXPECT_EQ(request(&ixo, "/qmethod=V", nullptr, IXO_INDEX_PORT_SELECTOR).first, IXO_OK);
    EXPECT_EQ(proxy.lastRequest(),
              "GET http://ixo.invalid:9001/qmethod=V HTTP/1.0\r\nPragma: No-Cache\r\n"
              "Proxy-Authorization: Basic cHU6cHA=\r\n\r\n");
    ixoDestroyIxo(&ixo);
}

TEST(IxoScramble, OnlyTheSegmentIsReplaced) {
    auto scramble = [](const std::string& text) {
        char* out = ixoScrambleText(text.c_str());
        EXPECT_NE(out, nullptr);
        std::string s = out ? out : "";
        memFree(out);
        return s;
    };
    auto sixDigits = [](int checksum) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%06d", checksum);
        return std::string(digits).substr(0, 6);
    };
    const std::string query = "/qmethod=E&querytext=APPLE+PEAR+&qnum=6";
    std::string s = scramble(query);
    ASSERT_EQ(s.rfind("/HLVN", 0), 0u) << s;
    auto [checksum, plain] = unscramble(s.substr(5));
    EXPECT_EQ(plain, query);
    EXPECT_EQ(checksum, sixDigits(expectedChecksum(plain)));
    EXPECT_EQ(s.find_first_of("\n "), std::string::npos);

    // Text before the segment's '/' and from the first blank on stays as it was.
    s = scramble("http://host:80/qmethod=V HTTP/1.0");
    ASSERT_EQ(s.rfind("http://host:80/HLVN", 0), 0u) << s;
    std::size_t blank = s.find(' ');
    ASSERT_NE(blank, std::string::npos);
    EXPECT_EQ(s.substr(blank), " HTTP/1.0");
    EXPECT_EQ(unscramble(s.substr(19, blank - 19)).second, "/qmethod=V");

    // High bytes count as negative: the checksum may print with a sign and is still
    // exactly six characters.
    const std::string segment = "/" + std::string(1000, '\xe9');
    std::tie(checksum, plain) = unscramble(scramble(segment).substr(5));
    EXPECT_EQ(plain, segment);
    EXPECT_EQ(checksum, sixDigits(expectedChecksum(segment)));
    EXPECT_EQ(checksum[0], '-');
}

TEST(IxoReply, CompressedRepliesInflateOnlyWithAPlausibleLength) {
    LoopbackServer server;
    Handle h(server.port());
    std::string plain = "numhits=2\nDoc_name=a\nURL_title=A\nDoc_weight=90\n";
    for (int i = 0; i < 50; ++i) plain += "Doc_name=doc" + std::to_string(i) + "\n";
    std::string body = compressedBody(plain);

    server.queueReply(compressedReply(body, static_cast<long>(body.size())));
    EXPECT_EQ(request(&h.ixo, "/q"), std::make_pair(IXO_OK, plain));

    // Marked compressed, but a length of 8 or less, or more than arrived: passed through.
    for (long claimed : {8L, static_cast<long>(body.size()) + 1}) {
        std::string raw = "00000003plain text";
        server.queueReply(compressedReply(raw, claimed));
        EXPECT_EQ(request(&h.ixo, "/q"), std::make_pair(IXO_OK, raw)) << claimed;
    }
    // Without the marker the body is plain text whatever it holds.
    server.queueReply("HTTP/1.0 200 OK\r\nContent-length: 12\r\n\r\n00000003abcd");
    EXPECT_EQ(request(&h.ixo, "/q").second, "00000003abcd");

    // A corrupt stream is a failed reply, not garbage.
    std::string corrupt = body;
    corrupt[12] ^= 0x55;
    corrupt[13] ^= 0x55;
    server.queueReply(compressedReply(corrupt, static_cast<long>(corrupt.size())));
    EXPECT_EQ(request(&h.ixo, "/q").first, IXO_ERR_RETRIEVE);

    // A prefix smaller than the real text: no room, a failed reply.
    std::string tooSmall = compressedBody(plain, 10);
    server.queueReply(compressedReply(tooSmall, static_cast<long>(tooSmall.size())));
    EXPECT_EQ(request(&h.ixo, "/q").first, IXO_ERR_RETRIEVE);
    // A prefix larger than the real text: the text as inflated, terminated after it.
    std::string tooLarge = compressedBody(plain, 99999999);
    server.queueReply(compressedReply(tooLarge, static_cast<long>(tooLarge.size())));
    EXPECT_EQ(request(&h.ixo, "/q"), std::make_pair(IXO_OK, plain));
    // A claimed length shorter than the body inflates only what it covers.
    server.queueReply(compressedReply(body, 20));
    EXPECT_EQ(request(&h.ixo, "/q").first, IXO_ERR_RETRIEVE);
}

TEST(IxoReply, EchoCutInvalidInstructionAndEmptyReplies) {
    LoopbackServer server;
    Handle h(server.port());
    server.queueReply(LoopbackServer::httpReply("numhits=0\n***Original Query\n/qmethod=V\n"));
    EXPECT_EQ(request(&h.ixo, "/q"), std::make_pair(IXO_OK, std::string("numhits=0\n")));

    std::string plain = "numhits=1\nDoc_name=x\n***Original Query: /q\n";
    std::string body = compressedBody(plain);
    server.queueReply(compressedReply(body, static_cast<long>(body.size())));
    EXPECT_EQ(request(&h.ixo, "/q"),
              std::make_pair(IXO_OK, std::string("numhits=1\nDoc_name=x\n")));

    server.queueReply(LoopbackServer::httpReply("Error: Invalid Instruction received\n"));
    EXPECT_EQ(request(&h.ixo, "/q").first, IXO_ERR_INSTRUCTION);
    // After the echo marker the words no longer count.
    server.queueReply(
        LoopbackServer::httpReply("numhits=0\n***Original Query Invalid Instruction"));
    EXPECT_EQ(request(&h.ixo, "/q").first, IXO_OK);

    server.queueReply(LoopbackServer::httpReply(""));
    EXPECT_EQ(request(&h.ixo, "/q").first, IXO_ERR_RETRIEVE);
    // No blank line: the whole response is the reply text.
    server.queueReply("HTTP/1.0 200 OK\r\nnumhits=0\r\n");
    EXPECT_EQ(request(&h.ixo, "/q").second, "HTTP/1.0 200 OK\r\nnumhits=0\r\n");
    // Bare "\n\n" before "\r\n\r\n" ends the headers.
    server.queueReply("HTTP/1.0 200 OK\n\nbody\r\n\r\ntail");
    EXPECT_EQ(request(&h.ixo, "/q").second, "body\r\n\r\ntail");
}

// A status outside 2xx is a failure in every request form, whatever the body says; the
// status goes to the diagnostic log.
TEST(IxoReply, ErrorStatusesFailInEveryForm) {
    testing_support::TempDir dir;
    const std::string log = dir.file("diag.log");
    diagLogSetup(log.c_str(), 0, 0);
    LoopbackServer server;
    Handle h(server.port(), server.port());
    for (int status : {403, 500, 404, 301}) {
        SCOPED_TRACE(status);
        server.setReply(LoopbackServer::httpReply("numhits=0\n", "text/plain", status));
        EXPECT_EQ(request(&h.ixo, "/q").first, IXO_ERR_RETRIEVE);
        EXPECT_EQ(request(&h.ixo, "/IXORESET", nullptr, IXO_INDEX_PORT_SELECTOR).first,
                  IXO_ERR_RETRIEVE);

        const std::string file = dir.file("reply.txt");
        EXPECT_EQ(ixoRequestToFile(&h.ixo, server.port(), "/q", nullptr, file.c_str()),
                  IXO_ERR_RETRIEVE);
        EXPECT_FALSE(std::filesystem::exists(file));

        char buffer[32] = "untouched";
        EXPECT_EQ(ixoRequestToBuffer(&h.ixo, 0, "/q", nullptr, buffer, sizeof buffer),
                  IXO_ERR_RETRIEVE);
        EXPECT_STREQ(buffer, "");

        IxoQueryResult result{};
        EXPECT_EQ(ixoDoHttpQueryToStructure(&h.ixo, "/qmethod=q&querytext=a", &result),
                  IXO_ERR_RETRIEVE);
        EXPECT_EQ(result.hitCount, 0);
    }
    diagLogSetup(nullptr, 0, 0);
    const std::string text = testing_support::readWholeFile(log);
    EXPECT_NE(text.find("answered with HTTP status 403"), std::string::npos);
    EXPECT_NE(text.find("answered with HTTP status 500"), std::string::npos);

    // Any 2xx is an answer.
    server.setReply(LoopbackServer::httpReply("numhits=0\n", "text/plain", 203));
    EXPECT_EQ(request(&h.ixo, "/q"), std::make_pair(IXO_OK, std::string("numhits=0\n")));
}

// Serves one connection on 127.0.0.1 with a reply of `total` body bytes, written in
// 1 MiB pieces from one small buffer (so the test itself holds little), until the
// peer stops reading. sent() tells how much went out.
class StreamingServer {
  public:
    explicit StreamingServer(long long total) : total_(total) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        listen(fd_, 1);
        thread_ = std::thread([this] { serve(); });
    }
    ~StreamingServer() {
        shutdown(fd_, SHUT_RDWR);
        thread_.join();
        close(fd_);
    }
    int port() const { return port_; }
    long long sent() const { return sent_.load(); }

  private:
    void serve() {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 20000) != 1) return;
        int conn = accept(fd_, nullptr, nullptr);
        if (conn < 0) return;
        timeval tv{5, 0};
        setsockopt(conn, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        setsockopt(conn, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        std::string request;
        char buf[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            ssize_t n = recv(conn, buf, sizeof buf, 0);
            if (n <= 0) break;
            request.append(buf, static_cast<size_t>(n));
        }
        const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";
        ::send(conn, head.data(), head.size(), MSG_NOSIGNAL);
        const std::string piece(1 << 20, 'x');
        for (long long left = total_; left > 0;) {
            const size_t n = static_cast<size_t>(std::min<long long>(left, piece.size()));
            ssize_t done = ::send(conn, piece.data(), n, MSG_NOSIGNAL);
            if (done <= 0) break;
            sent_ += done;
            left -= done;
        }
        close(conn);
    }

    long long total_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<long long> sent_{0};
    std::thread thread_;
};

// A reply past the handle's limit fails cleanly (-3, a note in the log) as soon as the
// limit is passed, without reading, let alone holding, the rest.
TEST(IxoReply, RepliesPastTheLimitFailWithoutBeingHeld) {
    IXO ixo{};
    ASSERT_EQ(ixoCreateIxo(&ixo, "127.0.0.1", nullptr, 1, 2), IXO_OK);
    EXPECT_EQ(ixoSetMaxReplySize(&ixo, 0), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoSetMaxReplySize(nullptr, 5), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixo.maxReplyBytes, IXO_DEFAULT_MAX_REPLY);
    ASSERT_EQ(ixoSetMaxReplySize(&ixo, 64 << 20), IXO_OK);
    ixoSetHTTPTimeOut(&ixo, 10, 1000);
    {
        StreamingServer server(300LL << 20);
        ixo.queryPort = server.port();
        EXPECT_EQ(request(&ixo, "/big").first, IXO_ERR_RETRIEVE);
        // Socket buffers let a little more than the limit go out, never the whole.
        EXPECT_LT(server.sent(), 100LL << 20);
    }
    {
        // Below the limit the reply arrives whole.
        StreamingServer server(3 << 20);
        ixo.queryPort = server.port();
        ASSERT_EQ(ixoSetMaxReplySize(&ixo, 4 << 20), IXO_OK);
        auto [rc, text] = request(&ixo, "/big");
        EXPECT_EQ(rc, IXO_OK);
        EXPECT_EQ(text.size(), static_cast<size_t>(3 << 20));
    }
    // A compressed reply that claims to inflate past the limit is not inflated.
    LoopbackServer small;
    ixo.queryPort = small.port();
    ASSERT_EQ(ixoSetMaxReplySize(&ixo, 1000), IXO_OK);
    const std::string plain(5000, 'z');
    std::string body = compressedBody(plain);
    small.setReply(compressedReply(body, static_cast<long>(body.size())));
    EXPECT_EQ(request(&ixo, "/z").first, IXO_ERR_RETRIEVE);
    ASSERT_EQ(ixoSetMaxReplySize(&ixo, 5000), IXO_OK);
    EXPECT_EQ(request(&ixo, "/z"), std::make_pair(IXO_OK, plain));
    ixoDestroyIxo(&ixo);
}

// Blanks and control characters never reach the request line raw: a path cannot add
// header lines, with or without scrambling.
// (Plain paths are encoded by the HTTP layer, whose tests check the request line.)
TEST(IxoRequest, ScrambledPathsAreEncodedBeforeScrambling) {
    LoopbackServer server;
    server.setReply(LoopbackServer::httpReply("numhits=0\n"));
    Handle h(server.port());
    // Modes other than 1 do not scramble.
    ASSERT_EQ(ixoSetEncryption(&h.ixo, 2, nullptr), IXO_OK);
    ASSERT_EQ(request(&h.ixo, "/qmethod=V").first, IXO_OK);
    EXPECT_EQ(server.lastRequest(), "GET /qmethod=V HTTP/1.0\r\nPragma: No-Cache\r\n\r\n");

    // Scrambled (on the wire as the query tests check byte for byte), the encoded path
    // is one segment: nothing follows it raw.
    ASSERT_EQ(ixoSetEncryption(&h.ixo, 1, "phrase"), IXO_OK);
    ASSERT_EQ(request(&h.ixo, "/q a\tb\x7f").first, IXO_OK);
    const std::string scrambled = server.lastRequest();
    const std::string line = scrambled.substr(0, scrambled.find("\r\n"));
    ASSERT_EQ(line.rfind("GET /HLVN", 0), 0u);
    EXPECT_EQ(line.find(' ', 4), line.size() - 9);  // only the blank before "HTTP/1.0"
    auto [checksum, plain] = unscramble(line.substr(9, line.size() - 18));
    EXPECT_EQ(plain, "/q%20a%09b%7F");
}

TEST(IxoReply, SilentAndClosingPeersGiveRetrieveFailure) {
    // A silent peer fails after the wait, a closing one at once.
    for (auto mode : {LoopbackServer::Mode::NeverAnswer, LoopbackServer::Mode::CloseAtOnce}) {
        LoopbackServer server;
        server.setMode(mode);
        Handle h(server.port());
        ixoSetHTTPTimeOut(&h.ixo, 1, 1000);
        auto start = Clock::now();
        EXPECT_EQ(request(&h.ixo, "/q").first, IXO_ERR_RETRIEVE);
        double took = std::chrono::duration<double>(Clock::now() - start).count();
        const bool silent = mode == LoopbackServer::Mode::NeverAnswer;
        EXPECT_GE(took, silent ? 0.9 : 0.0);
        EXPECT_LT(took, silent ? 3.0 : 2.0);
    }
}

TEST(IxoReplyVariants, ToFileCutsAndReportsFailures) {
    LoopbackServer queryServer;
    LoopbackServer indexServer;
    Handle h(queryServer.port(), indexServer.port());
    testing_support::TempDir dir;
    std::string file = dir.file("reply.txt");

    queryServer.queueReply(
        LoopbackServer::httpReply("numhits=1\nDoc_name=a\n***Original Query\nx\n"));
    ASSERT_EQ(ixoRequestToFile(&h.ixo, queryServer.port(), "/q", nullptr, file.c_str()), IXO_OK);
    EXPECT_EQ(testing_support::readWholeFile(file), "numhits=1\nDoc_name=a\n");

    indexServer.queueReply(LoopbackServer::httpReply("indexed\n"));
    ASSERT_EQ(ixoRequestToFile(&h.ixo, indexServer.port(), "/IXORESET", "", file.c_str()), IXO_OK);
    EXPECT_EQ(testing_support::readWholeFile(file), "indexed\n");

    // A reply cut to nothing leaves no file (the old one is deleted first).
    queryServer.queueReply(LoopbackServer::httpReply("***Original Query\n"));
    ASSERT_EQ(ixoRequestToFile(&h.ixo, queryServer.port(), "/q", nullptr, file.c_str()), IXO_OK);
    EXPECT_FALSE(std::filesystem::exists(file));

    // A port that is neither of the handle's sends nothing.
    testing_support::writeWholeFile(file, "old");
    std::size_t before = queryServer.requestCount() + indexServer.requestCount();
    EXPECT_EQ(ixoRequestToFile(&h.ixo, 1, "/q", nullptr, file.c_str()), IXO_ERR_PORT);
    EXPECT_EQ(queryServer.requestCount() + indexServer.requestCount(), before);
    EXPECT_FALSE(std::filesystem::exists(file));

    // Failures are reported, not turned into success.
    queryServer.queueReply(LoopbackServer::httpReply("Invalid Instruction"));
    EXPECT_EQ(ixoRequestToFile(&h.ixo, queryServer.port(), "/q", nullptr, file.c_str()),
              IXO_ERR_INSTRUCTION);
    EXPECT_FALSE(std::filesystem::exists(file));
    queryServer.queueReply(LoopbackServer::httpReply(""));
    EXPECT_EQ(ixoRequestToFile(&h.ixo, queryServer.port(), "/q", nullptr, file.c_str()),
              IXO_ERR_RETRIEVE);
    EXPECT_EQ(ixoRequestToFile(&h.ixo, queryServer.port(), "/q", nullptr, nullptr),
              IXO_ERR_PARAMETER);
}

TEST(IxoReplyVariants, ToBufferCopiesAtMostSizeAndTerminates) {
    LoopbackServer server;
    Handle h(server.port());
    struct Case {
        const char* reply;
        int32_t size, rc;
        const char* text;
    };
    for (const Case& c :
         {Case{"0123456789", 8, IXO_OK, "0123456"}, Case{"0123456789", 11, IXO_OK, "0123456789"},
          Case{"abc", 20, IXO_OK, "abc"},
          Case{"Invalid Instruction", 20, IXO_ERR_INSTRUCTION, ""}}) {
        SCOPED_TRACE(c.size);
        std::string buffer(32, '#');
        server.queueReply(LoopbackServer::httpReply(c.reply));
        ASSERT_EQ(ixoRequestToBuffer(&h.ixo, 0, "/q", nullptr, buffer.data(), c.size), c.rc);
        EXPECT_EQ(std::string(buffer.c_str()), c.text);
        EXPECT_EQ(buffer.substr(static_cast<size_t>(c.size)), std::string(32 - c.size, '#'));
    }
    char buffer[8];
    EXPECT_EQ(ixoRequestToBuffer(&h.ixo, 0, "/q", nullptr, buffer, 0), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoRequestToBuffer(&h.ixo, 0, "/q", nullptr, nullptr, 10), IXO_ERR_PARAMETER);
}
