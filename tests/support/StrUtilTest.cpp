// Blank trimming and SubStr: only the space is a blank, positions are 1-based, and a text is cut
// at its first NUL.
#include "support/StrUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace peltorn::support {
namespace {

using namespace std::string_literals;

TEST(TrimSpacesTest, RemovesOnlyLeadingAndTrailingBlanks) {
    EXPECT_EQ(TrimSpaces("  AB C  "), "AB C");
    EXPECT_EQ(LTrimSpaces("  AB C  "), "AB C  ");
    EXPECT_EQ(RTrimSpaces("  AB C  "), "  AB C");
    EXPECT_EQ(TrimSpaces("#GROUP1"), "#GROUP1");
}

TEST(TrimSpacesTest, BlanksOnlyAndEmptyGiveEmpty) {
    EXPECT_EQ(TrimSpaces("    "), "");
    EXPECT_EQ(TrimSpaces(""), "");
    EXPECT_EQ(LTrimSpaces("   "), "");
    EXPECT_EQ(RTrimSpaces("   "), "");
    EXPECT_EQ(RTrimSpaces(" "), "");
}

TEST(TrimSpacesTest, TabsAndLineBreaksAreNotBlanks) {
    EXPECT_EQ(TrimSpaces("\tAB "), "\tAB");
    EXPECT_EQ(TrimSpaces(" AB\t"), "AB\t");
    EXPECT_EQ(TrimSpaces(" \t "), "\t");
    EXPECT_EQ(TrimSpaces("\r\nX\r\n"), "\r\nX\r\n");
}

TEST(TrimSpacesTest, TextEndsAtItsFirstNul) {
    EXPECT_EQ(TrimSpaces(" AB \0CD "s), "AB");
    EXPECT_EQ(LTrimSpaces("\0  AB"s), "");
}

TEST(SubStrTest, TakesThePartFromStart) {
    EXPECT_EQ(SubStr("200701", 1, 4), "2007");
    EXPECT_EQ(SubStr("200701", 5, 2), "01");
    EXPECT_EQ(SubStr("#ABC", 1, 1), "#");
    EXPECT_EQ(SubStr("BONUS01", 1, 4), "BONU");
}

TEST(SubStrTest, StartZeroCountsAsOne) {
    EXPECT_EQ(SubStr("200701", 0, 2), "20");
    EXPECT_EQ(SubStr("200701", 0, 255), "200701");
}

TEST(SubStrTest, BothEndsOfTheText) {
    EXPECT_EQ(SubStr("200701", 1, 10), "200701");  // count past the end: the rest
    EXPECT_EQ(SubStr("200701", 6, 1), "1");        // start = length: the last character
    EXPECT_EQ(SubStr("200701", 6, 5), "1");
    EXPECT_EQ(SubStr("200701", 7, 1), "");  // start beyond the end
    EXPECT_EQ(SubStr("200701", 255, 255), "");
    EXPECT_EQ(SubStr("200701", 1, 0), "");
    EXPECT_EQ(SubStr("200701", 3, 0), "");
    EXPECT_EQ(SubStr("", 0, 1), "");
    EXPECT_EQ(SubStr("", 1, 1), "");
}

TEST(SubStrTest, KeepsBlanksAndStopsAtNul) {
    EXPECT_EQ(SubStr(" 2007", 1, 4), " 200");
    EXPECT_EQ(SubStr("AB\0CD"s, 1, 4), "AB");
    EXPECT_EQ(SubStr("AB\0CD"s, 4, 1), "");
}

TEST(SubStrTest, WorksOnTextsLongerThanAByteCounts) {
    const std::string text = "2019" + std::string(600, 'x') + "END";
    EXPECT_EQ(SubStr(text, 1, 4), "2019");
    EXPECT_EQ(SubStr(text, 255, 3), "xxx");
}

}  // namespace
}  // namespace peltorn::support
