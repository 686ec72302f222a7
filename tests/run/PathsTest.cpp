// Database paths as the run forms them, the periods it accepts and the wording of its error
// report.
#include "run/MergeRun.h"

#include <gtest/gtest.h>

namespace peltorn::run {
namespace {

TEST(DatabasePaths, FreeTableLayoutJoinsBaseFolderAndCodeWithoutSeparator) {
    EXPECT_EQ(DestinationPath("C:\\PAY\\", "NO", "#GRP"), "C:\\PAY\\COMPANY\\#GRP");
    // A base folder without a trailing backslash runs into "COMPANY", as it always has.
    EXPECT_EQ(DestinationPath("D:\\DATA", "", "#GRP"), "D:\\DATACOMPANY\\#GRP");
    EXPECT_EQ(SourcePath("C:\\PAY\\", "NO", "A01", ""), "C:\\PAY\\COMPANY\\A01");
}

TEST(DatabasePaths, DictionaryLayoutBeginsWithBackslashAndNamesTheAddFile) {
    EXPECT_EQ(DestinationPath("C:\\PAY\\", "YES", "#GRP"), "C:\\PAY\\\\COMPANY\\#GRP\\#GRP.ADD");
    EXPECT_EQ(SourcePath("C:\\PAY", "YES", "B02", ""), "C:\\PAY\\COMPANY\\B02\\B02.ADD");
    // The setting is compared exactly.
    EXPECT_EQ(DestinationPath("C:\\PAY\\", "yes", "#GRP"), "C:\\PAY\\COMPANY\\#GRP");
}

TEST(DatabasePaths, SourcePathWinsWhateverTheLayout) {
    EXPECT_EQ(SourcePath("C:\\PAY\\", "YES", "A01", "E:\\OTHER\\A01"), "E:\\OTHER\\A01");
    EXPECT_EQ(SourcePath("C:\\PAY\\", "NO", "A01", "E:\\X\\A.ADD"), "E:\\X\\A.ADD");
    // The source code is taken as read, blanks included.
    EXPECT_EQ(SourcePath("C:\\PAY\\", "NO", " A01", ""), "C:\\PAY\\COMPANY\\ A01");
}

TEST(Periods, OnlySixDigitsAreAccepted) {
    EXPECT_TRUE(IsValidPeriod("202406"));
    EXPECT_TRUE(IsValidPeriod("999999"));
    for (const char* bad : {"", "2024", "2024066", "20240a", " 202406", "2024-6", "２０２４０６"})
        EXPECT_FALSE(IsValidPeriod(bad)) << bad;
}

TEST(Periods, TheMonthRunsFrom01To12) {
    for (const char* good : {"202401", "202409", "202410", "202412", "000001"})
        EXPECT_TRUE(IsValidPeriod(good)) << good;
    for (const char* bad : {"202413", "202400", "000000", "202419", "202490", "999998", "999913"})
        EXPECT_FALSE(IsValidPeriod(bad)) << bad;
}

TEST(ErrorReport, NamesGroupDatabaseAndTableWhereKnown) {
    EXPECT_EQ(RunErrorReport("Invalid Period!", {}), "Invalid Period!");
    EXPECT_EQ(RunErrorReport("Invalid merge database selected!", {"B", "", ""}),
              "Invalid merge database selected! (merge group B)");
    EXPECT_EQ(RunErrorReport("Employee#E1 key", {"#G", "C:\\X\\A01", "EMPLOYEE"}),
              "Employee#E1 key (merge group #G, database C:\\X\\A01, table EMPLOYEE)");
}

}  // namespace
}  // namespace peltorn::run
