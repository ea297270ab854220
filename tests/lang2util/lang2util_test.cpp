// Language conversion and the process-wide stop list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/lang2util.h"
#include "tests/common/tempdir.h"

namespace {

std::string convert(const std::string& in) {
    char* buffer = nullptr;
    int32_t size = 0;
    int32_t n = lang2ConvertText(in.c_str(), &buffer, &size);
    EXPECT_GE(n, 0);
    std::string out(buffer, static_cast<size_t>(n));
    EXPECT_EQ(buffer[n], '\0');
    memFree(buffer);
    return out;
}

TEST(Lang2Convert, LettersAndTwoLetterForms) {
    EXPECT_EQ(convert("\xdf"), "ss");
    EXPECT_EQ(convert("\xc4"), "AE");
    EXPECT_EQ(convert("\xe9"), "e");
    EXPECT_EQ(convert("a\xd7"
                      "b"),
              "a b");  // multiplication sign splits words
    EXPECT_EQ(convert("Stra\xdf"
                      "e \xd6l \xfc"
                      "ber \xe6\xf8\xe5"),
              "Strasse OEl ueber aeoeae");
    EXPECT_EQ(convert("\x93quoted\x94 \x96 \x80"
                      "5"),
              "\"quoted\" - C5");
    EXPECT_EQ(convert("\x7f\x81\xa0"), "   ");
    EXPECT_EQ(convert(""), "");
    std::string ascii;
    for (int c = 1; c < 127; ++c) ascii += static_cast<char>(c);
    EXPECT_EQ(convert(ascii), ascii);

    // Every byte converts to printable ASCII or a blank, at most two characters.
    for (int c = 127; c < 256; ++c) {
        char second = 0;
        char first = lang2ConvertChar(static_cast<unsigned char>(c), &second);
        EXPECT_TRUE(first >= ' ' && first < 127) << c;
        EXPECT_TRUE(second == 0 || (second >= 'A' && second <= 'z')) << c;
    }
}

TEST(Lang2Convert, BufferGrowsOnlyWhenNeeded) {
    char* buffer = static_cast<char*>(memAlloc(64));
    int32_t size = 64;
    // 2 * 20 + 5 fits in 64: the buffer is kept.
    std::string twenty(20, '\xdf');
    char* before = buffer;
    ASSERT_EQ(lang2ConvertText(twenty.c_str(), &buffer, &size), 40);
    EXPECT_EQ(buffer, before);
    EXPECT_EQ(size, 64);
    // 2 * 40 + 5 does not: replaced by 2 * 40 + 25 bytes, still a full conversion.
    std::string forty(40, '\xdf');
    ASSERT_EQ(lang2ConvertText(forty.c_str(), &buffer, &size), 80);
    EXPECT_EQ(size, 105);
    EXPECT_EQ(std::string(buffer), std::string(80, 's'));
    memFree(buffer);
    EXPECT_EQ(lang2ConvertText(nullptr, &buffer, &size), -1);

    // A fixed output never overruns; a two-letter form that does not fit is left out.
    char out[6];
    EXPECT_EQ(lang2ConvertBytes("ab\xdf\xdf", 4, out, 5), 4);
    EXPECT_STREQ(out, "abss");
    EXPECT_EQ(lang2ConvertBytes("abc\xdf", 4, out, 5), 3);
    EXPECT_STREQ(out, "abc");
    EXPECT_EQ(lang2ConvertBytes("abc", 3, out, 0), 0);
}

class Lang2Stoplist : public testing::Test {
  protected:
    void SetUp() override { lang2ResetStoplist(); }
    void TearDown() override { lang2ResetStoplist(); }
    testing_support::TempDir dir;
};

TEST_F(Lang2Stoplist, BuiltInListUntilAFileIsLoaded) {
    int32_t count = 0;
    const char* const* list = lang2BuiltinStoplist(&count);
    ASSERT_EQ(count, 103);
    EXPECT_STREQ(list[0], "AFTER");
    EXPECT_STREQ(list[102], "YOURE");
    EXPECT_EQ(lang2BuiltinStoplistActive(), 1);
    EXPECT_EQ(lang2IsStopWord("THE"), 1);
    EXPECT_EQ(lang2IsStopWord("the"), 0);  // exact, upper case
    EXPECT_EQ(lang2IsStopWord("APPLE"), 0);

    std::string file = dir.file("english.dat");
    // Converted, upper-cased, trimmed; tabs and carriage returns separate too.
    testing_support::writeWholeFile(
        file, "  apple \r\nb\xe4r\tzebra\n\n   \n9lives\n" + std::string(40, 'x') + "\n");
    ASSERT_EQ(lang2LoadStoplist(file.c_str()), 0);
    EXPECT_EQ(lang2BuiltinStoplistActive(), 0);
    EXPECT_EQ(lang2IsStopWord("THE"), 0);
    EXPECT_EQ(lang2IsStopWord("APPLE"), 1);
    EXPECT_EQ(lang2IsStopWord("BAER"), 1);
    EXPECT_EQ(lang2IsStopWord("ZEBRA"), 1);
    EXPECT_EQ(lang2IsStopWord("9LIVES"), 1);
    EXPECT_EQ(lang2IsStopWord(std::string(31, 'X').c_str()), 1);  // cut to 31
    EXPECT_EQ(lang2IsStopWord(std::string(40, 'X').c_str()), 0);
    EXPECT_EQ(lang2StoplistBucketSize(0), 1);
    EXPECT_EQ(lang2StoplistBucketSize(26), 1);
    EXPECT_EQ(lang2StoplistBucketSize(27), 0);

    // A file that cannot be read changes nothing.
    EXPECT_EQ(lang2LoadStoplist(dir.file("missing.dat").c_str()), -1);
    EXPECT_EQ(lang2IsStopWord("APPLE"), 1);
    // Loading again replaces the loaded words.
    testing_support::writeWholeFile(file, "the\n");
    ASSERT_EQ(lang2LoadStoplist(file.c_str()), 0);
    EXPECT_EQ(lang2IsStopWord("APPLE"), 0);
    EXPECT_EQ(lang2IsStopWord("THE"), 1);
}

TEST_F(Lang2Stoplist, FullBucketDropsWithWarning) {
    std::string text;
    for (int i = 0; i < 1002; ++i) text += "A" + std::to_string(i) + "\n";
    text += "B1\n";
    std::string file = dir.file("big.dat");
    testing_support::writeWholeFile(file, text);
    testing::internal::CaptureStdout();
    ASSERT_EQ(lang2LoadStoplist(file.c_str()), 0);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed,
              "Warning: too many words in stoplist\nWarning: too many words in stoplist\n");
    EXPECT_EQ(lang2StoplistBucketSize(0), 1000);
    EXPECT_EQ(lang2IsStopWord("A999"), 1);
    EXPECT_EQ(lang2IsStopWord("A1000"), 0);
    EXPECT_EQ(lang2IsStopWord("B1"), 1);
}

}  // namespace
