#include "support/dateutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>

namespace {

// Parsing and formatting work in local time; the tests pin it to UTC unless a case
// sets another zone itself.
void setZone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
}

class DateTest : public ::testing::Test {
  protected:
    void SetUp() override { setZone("UTC"); }
    void TearDown() override { setZone("UTC"); }
};

int64_t utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return static_cast<int64_t>(timegm(&t));
}

// Parses and returns the seconds, or -999 when nothing was found.
int64_t parse(const char* text, const char* format, const DateNames* names = nullptr) {
    int64_t out = -999;
    int r = dateParse(names, text, format, &out);
    if (r != 1) {
        EXPECT_EQ(r, 0);
        EXPECT_EQ(out, -999) << "a failed parse changed the output";
    }
    return out;
}

// Year, month and day of a parse whose time of day comes from the clock.
std::string dayOf(const char* text, const char* format, const DateNames* names = nullptr) {
    int64_t s = parse(text, format, names);
    if (s == -999) return "none";
    std::time_t t = static_cast<std::time_t>(s);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return buf;
}

std::string format(const char* tmpl, int64_t seconds) {
    char* s = dateFormat(tmpl, seconds);
    if (!s) return "<null>";
    std::string out = s;
    memFree(s);
    return out;
}

TEST_F(DateTest, MailDateHeaders) {
    const char* full = "DD SHORTMONTH YYYY HH:NN:SS ZZZ";
    EXPECT_EQ(parse("Date: Tue, 15 Nov 1994 08:12:31 GMT", full), utc(1994, 11, 15, 8, 12, 31));
    EXPECT_EQ(parse("15 Nov 1994 08:12:31 GMT", full), utc(1994, 11, 15, 8, 12, 31));
    EXPECT_EQ(parse("Tue, 15 nov 94 08:12:31 gmt", "DD SHORTMONTH YY HH:NN:SS"),
              utc(1994, 11, 15, 8, 12, 31));
    // A one-digit day needs D+; the numeric zone is not read.
    EXPECT_EQ(parse("Mon, 2 Jun 2003 10:00:00 -0700", "D+ SHORTMONTH YYYY HH:NN:SS"),
              utc(2003, 6, 2, 10, 0, 0));
    // The short template finds the date after the weekday and comma.
    EXPECT_EQ(dayOf("Tue, 15 Nov 1994 08:12:31 GMT", "DD SHORTMONTH YYYY"), "1994-11-15");
    // The named zones shift the hour read.
    EXPECT_EQ(parse("15 Nov 1994 08:12:31 PST", full), utc(1994, 11, 15, 0, 12, 31));
    EXPECT_EQ(parse("15 Nov 1994 08:12:31 EST", full), utc(1994, 11, 15, 3, 12, 31));
    EXPECT_EQ(parse("15 Nov 1994 02:00:00 PST", full), utc(1994, 11, 14, 18, 0, 0));
    EXPECT_EQ(parse("15 Nov 1994 08:12:31 CET", full), utc(1994, 11, 15, 8, 12, 31));
}

TEST_F(DateTest, DatesInsideSentencesAndOtherTemplates) {
    EXPECT_EQ(dayOf("The meeting moved to March 7, 2001 in Oslo.", "LONGMONTH D+, YYYY"),
              "2001-03-07");
    EXPECT_EQ(parse("build of 2004-12-31 23:59:58 passed", "YYYY-MM-DD HH:NN:SS"),
              utc(2004, 12, 31, 23, 59, 58));
    EXPECT_EQ(parse("stamp 19991231T235901", "YYYYMMDDTHHNNSS"), utc(1999, 12, 31, 23, 59, 1));
    EXPECT_EQ(dayOf("Filed on the 22nd of February, 1997", "LONGDAY OF LONGMONTH, YYYY"),
              "1997-02-22");
    EXPECT_EQ(dayOf("(3/4/2002)", "(D+/M+/YYYY)"), "2002-04-03");
}

TEST_F(DateTest, TwoDigitAndOddYears) {
    EXPECT_EQ(dayOf("1 Jan 99", "D+ SHORTMONTH YY"), "1999-01-01");
    EXPECT_EQ(dayOf("1 Jan 05", "D+ SHORTMONTH YY"), "2005-01-01");
    EXPECT_EQ(dayOf("1 Jan 69", "D+ SHORTMONTH YY"), "2069-01-01");
    EXPECT_EQ(dayOf("1 Jan 70", "D+ SHORTMONTH YY"), "1970-01-01");
    EXPECT_EQ(dayOf("1 Jan 103", "D+ SHORTMONTH Y+"), "2003-01-01");  // years since 1900
    // Four-digit years below 1900 are not read as years since 1900 (that would land
    // in the 29th century); they are out of range.
    EXPECT_EQ(dayOf("1 Jan 1850", "D+ SHORTMONTH YYYY"), "none");
    EXPECT_EQ(dayOf("1 Jan 1900", "D+ SHORTMONTH YYYY"), "1900-01-01");
}

TEST_F(DateTest, FailedCandidateIsFollowedByTheNextOne) {
    // Day 45 is out of range; the next date in the text is found.
    EXPECT_EQ(dayOf("Ticket 45 Nov 1994, filed 15 Nov 1994", "DD SHORTMONTH YYYY"), "1994-11-15");
    // The tail of a number is not a candidate of its own.
    EXPECT_EQ(dayOf("45 Nov 1994", "D+ SHORTMONTH YYYY"), "none");
    // "MAY" as a word is a month name that does not fit; "JUNE" later does.
    EXPECT_EQ(dayOf("May I say: June 3, 1998", "LONGMONTH D+, YYYY"), "1998-06-03");
    // Day 0 and month 13 are out of range.
    EXPECT_EQ(dayOf("00/10/2000 or 13/13/2000 or 14/10/2000", "DD/MM/YYYY"), "2000-10-14");
}

TEST_F(DateTest, NoMatchLeavesTheOutputAlone) {
    EXPECT_EQ(parse("no date here at all", "DD SHORTMONTH YYYY"), -999);
    EXPECT_EQ(parse("", "DD"), -999);
    EXPECT_EQ(parse("15 Nov", ""), -999);
    // Templates longer than the text stop at its end.
    EXPECT_EQ(parse("12", "DD/MM/YYYY HH:NN:SS"), -999);
    EXPECT_EQ(parse("Nov", "SHORTMONTH DD YYYY"), -999);
    EXPECT_EQ(parse("1", "LONGDAY"), -999);
    EXPECT_EQ(parse("15 Nov 1994 08:12:31 G", "DD SHORTMONTH YYYY HH:NN:SS ZZZ"), -999);
    // A long run of digits saturates instead of overflowing and fails the range check.
    EXPECT_EQ(parse("99999999999999999999999999/1/2000", "D+/M+/YYYY"), -999);
    int64_t out = 5;
    EXPECT_EQ(dateParse(nullptr, nullptr, "DD", &out), 0);
    EXPECT_EQ(dateParse(nullptr, "15", nullptr, &out), 0);
    EXPECT_EQ(dateParse(nullptr, "15", "DD", nullptr), 0);
    EXPECT_EQ(out, 5);
}

TEST_F(DateTest, CallersNamesReplaceTheBuiltInOnes) {
    static const char* const longMonths[] = {"JANUAR",    "FEBRUAR", "MAERZ",    "APRIL",
                                             "MAI",       "JUNI",    "JULI",     "AUGUST",
                                             "SEPTEMBER", "OKTOBER", "NOVEMBER", "DEZEMBER"};
    static const char* const shortMonths[] = {"JAN", "FEB", "MAE", "APR", "MAI", "JUN",
                                              "JUL", "AUG", "SEP", "OKT", "NOV", "DEZ"};
    static const char* const endings[] = {"."};
    DateNames german{12, longMonths, 12, shortMonths, 1, endings, 0, nullptr};
    EXPECT_EQ(dayOf("am 3. Oktober 1990 in Berlin", "LONGDAY LONGMONTH YYYY", &german),
              "1990-10-03");
    EXPECT_EQ(dayOf("am 3. Oktober 1990", "LONGDAY LONGMONTH YYYY"), "none");
    EXPECT_EQ(dayOf("24 Dez 2001", "DD SHORTMONTH YYYY", &german), "2001-12-24");
}

TEST_F(DateTest, SummerTimeOfTheDateReadIsUsedNotTodays) {
    setZone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(parse("15 Jul 2003 12:00:00", "DD SHORTMONTH YYYY HH:NN:SS"),
              utc(2003, 7, 15, 10, 0, 0));
    EXPECT_EQ(parse("15 Jan 2003 12:00:00", "DD SHORTMONTH YYYY HH:NN:SS"),
              utc(2003, 1, 15, 11, 0, 0));
}

TEST_F(DateTest, FormattingByTemplate) {
    int64_t t = utc(1994, 11, 15, 8, 2, 31);
    EXPECT_EQ(format("DD/MM/YYYY HH:NN:SS", t), "15/11/1994 08:02:31");
    EXPECT_EQ(format("SHORTMONTH D+, YY", t), "Nov 15, 94");
    EXPECT_EQ(format("MONTH", utc(2000, 9, 1)), "September");
    EXPECT_EQ(format("longmonth", utc(2000, 9, 1)), "September");
    // A literal percent sign is printed, not taken as a conversion.
    EXPECT_EQ(format("100% sure: DD", t), "100% sure: 15");
    EXPECT_EQ(format("%Y", t), "%Y");
    EXPECT_EQ(format("", t), "");
    EXPECT_EQ(format(nullptr, t), "<null>");
}

TEST_F(DateTest, EpochSecondsAndRoundTrips) {
    EXPECT_EQ(format("EPOCHSECONDS", 784887151), "784887151");
    EXPECT_EQ(format("epochseconds", 0), "0");
    EXPECT_EQ(format("EPOCHSECONDS!", 0), "EPOCHSECONDS!");  // only as the whole template

    const char* tmpl = "YYYY-MM-DD HH:NN:SS";
    for (int64_t t : {int64_t{0}, int64_t{784887151}, utc(2038, 1, 19, 3, 14, 8),
                      utc(2069, 12, 31, 23, 59, 59), utc(1999, 2, 28, 12, 0, 0)}) {
        std::string text = format(tmpl, t);
        EXPECT_EQ(parse(text.c_str(), tmpl), t) << text;
        std::string seconds = format("EPOCHSECONDS", t);
        EXPECT_EQ(std::stoll(seconds), t);
    }
}

TEST_F(DateTest, TimeStampLayout) {
    char* stamp = dateTimeStamp();
    ASSERT_NE(stamp, nullptr);
    EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\d{1,2}/\d{1,2}/\d{4}  \d\d:\d\d:\d\d)")))
        << stamp;
    memFree(stamp);
}

}  // namespace
