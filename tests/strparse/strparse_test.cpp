#include "support/strparse.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/diaglog.h"
#include "tests/common/tempdir.h"

namespace {

const char kWarning[] = "Warning: bad input detected while decoding quoted printable buffer\n";

// Decodes input and reports whether the bad-input warning reached the log.
struct Decoded {
    std::string text;
    int32_t length = 0;
    bool warned = false;
};

class QuotedPrintable : public ::testing::Test {
  protected:
    void SetUp() override { diagLogSetup(dir_.file("diag.log").c_str(), 0, 16); }
    void TearDown() override { diagLogSetup(nullptr, 0, 0); }

    Decoded decode(const std::string& input, int crlf = 0) {
        int32_t before = diagLogRingCount();
        char* out = nullptr;
        Decoded d;
        d.length =
            strDecodeQuotedPrintable(input.data(), static_cast<int32_t>(input.size()), crlf, &out);
        if (out) {
            d.text.assign(out, static_cast<size_t>(d.length));
            EXPECT_EQ(out[d.length], '\0');
            memFree(out);
        }
        int32_t after = diagLogRingCount();
        for (int32_t i = before; i < after; ++i) {
            char message[256];
            EXPECT_EQ(diagLogRingGet(i, message, sizeof message, nullptr, 0), 1);
            if (std::strcmp(message, kWarning) == 0) d.warned = true;
        }
        return d;
    }

    testing_support::TempDir dir_;
};

}  // namespace

TEST_F(QuotedPrintable, EscapesAndSoftBreaks) {
    Decoded d = decode("=41=4a=4A=3D=00x");
    EXPECT_EQ(d.text, std::string("AJJ=\0x", 6));
    EXPECT_EQ(d.length, 6);
    EXPECT_FALSE(d.warned);

    EXPECT_EQ(decode("joined=\nline").text, "joinedline");
    EXPECT_EQ(decode("joined=\r\nline").text, "joinedline");
    EXPECT_EQ(decode("joined= \t\r\nline").text, "joinedline");  // blanks after '='
    EXPECT_EQ(decode("keep \t=\nit").text, "keep \tit");         // blanks before '=' are text
    EXPECT_FALSE(decode("joined= \t\r\nline").warned);
}

TEST_F(QuotedPrintable, LineEndsAndTrailingBlanks) {
    EXPECT_EQ(decode("one  \r\ntwo\t\nthree").text, "one\ntwo\nthree");
    EXPECT_EQ(decode("one  \r\ntwo\t\nthree", 1).text, "one\r\ntwo\r\nthree");
    EXPECT_EQ(decode("a \r b").text, "a  b");  // a lone CR is dropped, blanks kept
    EXPECT_EQ(decode("\n\n", 1).text, "\r\n\r\n");
    EXPECT_EQ(decode("end  ").text, "end  ");  // held blanks at the end are flushed

    // More than the hold of 100 blanks: none lost before text, none kept before a line end.
    std::string blanks(250, ' ');
    EXPECT_EQ(decode("x" + blanks + "y").text, "x" + blanks + "y");
    Decoded before = decode("x" + blanks + "\ny");
    EXPECT_EQ(before.text.substr(before.text.size() - 2), "\ny");
    EXPECT_EQ(before.text.find_first_not_of(' ', 1), before.text.size() - 2);
}

TEST_F(QuotedPrintable, BadInputIsKeptAndLoggedOnce) {
    Decoded d = decode("x=4Gy");
    EXPECT_EQ(d.text, "x=4Gy");
    EXPECT_TRUE(d.warned);
    EXPECT_EQ(diagLogRingCount(), 1);  // one warning for the whole buffer

    Decoded e = decode("=ZZ = \tq =\r");
    EXPECT_EQ(e.text, "=ZZ = \tq =\r");
    EXPECT_TRUE(e.warned);

    Decoded f = decode(
        "a\x01"
        "b\xe9"
        "c\x7f");
    EXPECT_EQ(f.text,
              "ab\xe9"
              "c");  // control characters dropped, 8-bit ones kept
    EXPECT_TRUE(f.warned);

    Decoded g = decode("=4\n");  // the second digit is a line end
    EXPECT_EQ(g.text, "=4\n");
    EXPECT_TRUE(g.warned);

    EXPECT_EQ(decode("tail=").text, "tail=");
    EXPECT_EQ(decode("tail=4").text, "tail=4");
}

TEST_F(QuotedPrintable, EmptyAndNullInput) {
    char* out = reinterpret_cast<char*>(1);
    EXPECT_EQ(strDecodeQuotedPrintable("", 0, 0, &out), 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(strDecodeQuotedPrintable(nullptr, 5, 0, &out), 0);
    EXPECT_EQ(out, nullptr);
    Decoded d = decode("=\n");  // input that decodes to nothing gives an empty text
    EXPECT_EQ(d.length, 0);
    EXPECT_EQ(d.text, "");
}

TEST_F(QuotedPrintable, LargeInputAcrossManyBlocks) {
    std::string input, expected;
    for (int i = 0; i < 5000; ++i) {
        input += "line " + std::to_string(i) + " caf=E9 =3D=\r\nmore  \r\n";
        expected += "line " + std::to_string(i) + " caf\xe9 =more\r\n";
    }
    Decoded d = decode(input, 1);
    EXPECT_EQ(d.text, expected);
    EXPECT_FALSE(d.warned);
}
