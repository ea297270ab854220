// Mail references: URL encoding both ways, building and splitting references.
#include <gtest/gtest.h>

#include <string>

#include "import/mailref.h"

namespace {

std::string encoded(const char* text) {
    char* e = mailrefUrlEncode(text);
    std::string out = e ? e : "<null>";
    if (e) memFree(e);
    return out;
}

std::string decoded(const char* text) {
    char* d = mailrefUrlDecode(text);
    std::string out = d ? d : "<null>";
    if (d) memFree(d);
    return out;
}

TEST(MailRefUrl, EncodesSeparatorsAndDecodesBack) {
    EXPECT_EQ(encoded("Inbox"), "Inbox");
    EXPECT_EQ(encoded("C:\\Mail\\A&B 1%+"), "C%3A%5CMail%5CA%26B+1%25%2B");
    EXPECT_EQ(encoded("\xe9t\xe9"), "%E9t%E9");
    EXPECT_EQ(encoded(""), "");
    const char* samples[] = {"a&b&c", "100% + more", "/home/u/Mail/In box", "\x01\x7f\xff~"};
    for (const char* s : samples) EXPECT_EQ(decoded(encoded(s).c_str()), s) << s;
}

TEST(MailRefUrl, DecodesPlusAndLeavesBrokenEscapes) {
    EXPECT_EQ(decoded("a+b%41%4a"), "a bAJ");
    EXPECT_EQ(decoded("50%"), "50%");
    EXPECT_EQ(decoded("%4"), "%4");
    EXPECT_EQ(decoded("%zz%"), "%zz%");
    // A zero byte would silently cut the name short: refused.
    EXPECT_EQ(decoded("In%00.dbx"), "<null>");
    EXPECT_EQ(mailrefUrlDecode(nullptr), nullptr);
}

TEST(MailRef, FormatThenParse) {
    char* ref = mailrefFormat("oe5", "/mail/A&B/Inbox", "Re: x & y", 1292240575);
    ASSERT_NE(ref, nullptr);
    EXPECT_STREQ(ref, "email://oe5&%2Fmail%2FA%26B%2FInbox&Re%3A+x+%26+y&1292240575");
    char* tag = nullptr;
    char* folder = nullptr;
    char* key = nullptr;
    int64_t time = 0;
    ASSERT_EQ(mailrefParse(ref, "OE5", &tag, &folder, &key, &time), MAILREF_OK);
    EXPECT_STREQ(tag, "oe5");
    EXPECT_STREQ(folder, "/mail/A&B/Inbox");
    EXPECT_STREQ(key, "Re: x & y");
    EXPECT_EQ(time, 1292240575);
    memFree(tag);
    memFree(folder);
    memFree(key);
    memFree(ref);

    ref = mailrefFormat("eudora", nullptr, "", -5);
    EXPECT_STREQ(ref, "email://eudora&&&-5");
    memFree(ref);
    EXPECT_EQ(mailrefFormat("", "f", "k", 1), nullptr);
    EXPECT_EQ(mailrefFormat("a&b", "f", "k", 1), nullptr);
}

TEST(MailRef, ParseRefusals) {
    int64_t time = 7;
    char* folder = nullptr;
    // Tags compare without regard to case; anything else about the shape must be exact.
    EXPECT_EQ(mailrefParse("email://EUDORA&f&k&1", "eudora", nullptr, &folder, nullptr, &time),
              MAILREF_OK);
    EXPECT_STREQ(folder, "f");
    memFree(folder);
    EXPECT_EQ(time, 1);
    EXPECT_EQ(mailrefParse("email:/oe5&f&k&1", "oe5", nullptr, nullptr, nullptr, nullptr),
              MAILREF_NOT_A_REFERENCE);
    EXPECT_EQ(mailrefParse("EMAIL://oe5&f&k&1", "oe5", nullptr, nullptr, nullptr, nullptr),
              MAILREF_NOT_A_REFERENCE);
    EXPECT_EQ(mailrefParse("email://oe4&f&k&1", "oe5", nullptr, nullptr, nullptr, nullptr),
              MAILREF_OTHER_CLIENT);
    const char* malformed[] = {"email://oe5&f&k",
                               "email://oe5&f&k&1&2",
                               "email://oe5&f&k&",
                               "email://oe5&f&k&1x",
                               "email://&f&k&1",
                               "email://oe5&f%00&k&1",
                               "email://oe5&f&k&99999999999999999999"};
    for (const char* ref : malformed)
        EXPECT_EQ(mailrefParse(ref, "oe5", nullptr, nullptr, nullptr, nullptr),
                  MAILREF_NOT_A_REFERENCE)
            << ref;
    EXPECT_EQ(mailrefParse(nullptr, "oe5", nullptr, nullptr, nullptr, nullptr),
              MAILREF_BAD_ARGUMENTS);
    // Any tag, reported back.
    char* tag = nullptr;
    EXPECT_EQ(mailrefParse("email://mbox&f&k&3", nullptr, &tag, nullptr, nullptr, nullptr),
              MAILREF_OK);
    EXPECT_STREQ(tag, "mbox");
    memFree(tag);
}

TEST(MailRef, FileTimeToUnix) {
    EXPECT_EQ(mailrefFileTimeToUnix(0), 0);
    EXPECT_EQ(mailrefFileTimeToUnix(116444736000000000ULL), 0);
    EXPECT_EQ(mailrefFileTimeToUnix(116444736000000000ULL + 10000000ULL * 1292240575), 1292240575);
}

}  // namespace
