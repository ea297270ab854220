// The mailslot the text reader writes into, and the conversion of desktop text to the
// agent's single-byte text on the way in.
#include "platform/mailslot.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "tests/common/tempdir.h"

namespace {

using platform::Mailslot;
using testing_support::TempDir;

TEST(Mailslot, MessagesOfEverySize) {
    TempDir dir;
    Mailslot slot;
    ASSERT_TRUE(slot.create(dir.file("sapiolux"))) << slot.error();
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("sapiolux").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    EXPECT_FALSE(slot.readNext().has_value());  // nothing waits: no text, no wait
    ASSERT_TRUE(platform::mailslotWrite(slot.path(), ""));
    ASSERT_TRUE(platform::mailslotWrite(slot.path(), "x"));
    std::string full(platform::kMailslotMaxMessage, 'a');
    ASSERT_TRUE(platform::mailslotWrite(slot.path(), full));
    // Larger texts are cut to the largest message.
    ASSERT_TRUE(platform::mailslotWrite(slot.path(), full + "overflow"));
    // The text ends at a zero byte.
    ASSERT_TRUE(platform::mailslotWrite(slot.path(), std::string("before\0after", 12)));

    auto empty = slot.readNext();
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(*empty, "");
    EXPECT_EQ(slot.readNext().value_or("?"), "x");
    EXPECT_EQ(slot.readNext().value_or("").size(), platform::kMailslotMaxMessage);
    EXPECT_EQ(slot.readNext().value_or(""), full);
    EXPECT_EQ(slot.readNext().value_or(""), "before");
    EXPECT_FALSE(slot.readNext().has_value());
}

TEST(Mailslot, NobodyListening) {
    TempDir dir;
    std::string path;
    {
        Mailslot slot;
        ASSERT_TRUE(slot.create(dir.file("sapiolux")));
        path = slot.path();
    }
    // The owner is gone (and took its socket with it): writing fails, it does not block.
    EXPECT_FALSE(platform::mailslotWrite(path, "text"));
    // A plain file at the name is not taken for an old mailslot.
    testing_support::writeWholeFile(dir.file("file"), "keep");
    Mailslot slot;
    EXPECT_FALSE(slot.create(dir.file("file")));
    EXPECT_EQ(testing_support::readWholeFile(dir.file("file")), "keep");
}

TEST(Mailslot, WindowTextComesInAsWindows1252) {
    // The conversion itself is the support library's; here what the mailslot adds: zero
    // bytes, which would end the message's text, become blanks, and long texts are cut.
    EXPECT_EQ(platform::mailslotText(std::string("caf\xc3\xa9\0\xe2\x82\xac", 9)), "caf\xe9 \x80");
    // Long texts are cut to the largest message.
    std::string big;
    for (int i = 0; i < 70000; ++i) big += "\xc3\xa9";  // 70,000 characters
    std::string message = platform::mailslotText(big);
    EXPECT_EQ(message.size(), platform::kMailslotMaxMessage);
    EXPECT_EQ(message.find_first_not_of('\xe9'), std::string::npos);
}

}  // namespace
