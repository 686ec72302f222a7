// peltorn db on tables that hold what their fields cannot (money beyond its range, infinity, the
// null SQLite keeps for a NaN, integers beyond 32 bits), CSV files ending in blank lines, and an
// import stopped by a signal while it writes: the table keeps exactly its old rows.
#include "DbCliFixture.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace peltorn {
namespace {

using test::CliResult;
using test::RunCli;
using test::TempDir;

class DbValuesTest : public test::DbCliFixture {
protected:
    std::string co;

    void SetUp() override {
        co = (dir / "CO").string();
        Ok({"db", "create-company", co});
    }

    std::string Import(const std::string& table, const std::string& csv) {
        return Ok({"db", "import", co, table, File(table + ".csv", csv)});
    }
    std::string Sql(const std::string& statement) { return Ok({"db", "sql", co, statement}); }
};

TEST_F(DbValuesTest, ExportAndSelectShowWhatTheTableHoldsEvenBeyondTheFieldTypes) {
    Import("P_HTRX", "EMPCODE,PERIOD,CYCLE\nE1,202403,1\nE2,202403,1\nE3,202403,1\n");
    // E3 gets a NaN, which the file keeps as null.
    Sql("UPDATE P_HTRX SET GROSS_WAGE = CASE EMPCODE WHEN 'E1' THEN 1e15 WHEN 'E2' THEN 9e999 "
        "ELSE 9e999 - 9e999 END");
    EXPECT_EQ(Sql("SELECT EMPCODE, GROSS_WAGE FROM P_HTRX ORDER BY EMPCODE"),
              "EMPCODE,GROSS_WAGE\r\nE1,1000000000000000\r\nE2,INF\r\nE3,\r\n");
    const std::string exported = Ok({"db", "export", co, "P_HTRX"});
    EXPECT_NE(exported.find(",1000000000000000,"), std::string::npos) << exported;
    EXPECT_NE(exported.find(",INF,"), std::string::npos) << exported;

    Import("EMP_BNK", "EMP_CODE,BANK_ID,BANK_AC_NO,TRXID\nE1,MBB,111,7\n");
    Sql("UPDATE EMP_BNK SET TRXID = 5000000000");
    EXPECT_NE(Ok({"db", "export", co, "EMP_BNK"}).find("\r\nE1,MBB,111,5000000000,"),
              std::string::npos);

    // What the export shows beyond the fields' range is refused when imported again.
    std::string err = Fails({"db", "import", co, "P_HTRX", File("back.csv", exported)});
    EXPECT_NE(err.find("1000000000000000"), std::string::npos) << err;
}

TEST_F(DbValuesTest, BlankLinesAtTheEndOfTheFileAreIgnoredInTheMiddleRefused) {
    EXPECT_EQ(Import("GLTYPE", "GL_TYPE,DESC\nA,Assets\n\n"), "1 rows imported\n");
    EXPECT_EQ(Import("GLTYPE", "GL_TYPE,DESC\r\nB,Bank\r\n\r\n\r\n"), "1 rows imported\n");
    EXPECT_EQ(Import("EMPLOYEE", "EMP_NO\nE1\n\n"), "1 rows imported\n");
    std::string err =
        Fails({"db", "import", co, "GLTYPE", File("m.csv", "GL_TYPE,DESC\nC,Cash\n\nD,Debt\n")});
    EXPECT_NE(err.find("row 3 is a blank line"), std::string::npos) << err;
    err = Fails({"db", "import", co, "EMPLOYEE", File("e.csv", "EMP_NO\nE2\n\nE3\n")});
    EXPECT_NE(err.find("row 3 is a blank line"), std::string::npos) << err;
    // A quoted empty cell is a value (null), not a blank line.
    EXPECT_EQ(Import("EMPLOYEE", "NAME\n\"\"\nAnn\n"), "2 rows imported\n");
    EXPECT_EQ(Ok({"db", "export", co, "GLTYPE"}), "GL_TYPE,DESC\r\nA,Assets\r\nB,Bank\r\n");
}

// ---- an import stopped while it writes ----

struct TChild {
    pid_t Pid = -1;
    int Status = 0;
};

// Starts the tool with its output in files of dir.
TChild Start(const std::vector<std::string>& args, const TempDir& dir) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const std::string out = (dir / "child.out").string(), err = (dir / "child.err").string();
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all{PELTORN_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    TChild child;
    if (posix_spawn(&child.Pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        child.Pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

// Waits for the child at most timeout; a child still running then is killed and false returned.
bool Wait(TChild& child, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(child.Pid, &child.Status, WNOHANG) == child.Pid) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(child.Pid, SIGKILL);
    waitpid(child.Pid, &child.Status, 0);
    return false;
}

std::uintmax_t SizeOf(const std::filesystem::path& p) {
    std::error_code ec;
    auto size = std::filesystem::file_size(p, ec);
    return ec ? 0 : size;
}

std::string Slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST_F(DbValuesTest, ImportStoppedBySignalWhileWritingLeavesTheTableAsItWas) {
    Import("P_DTRXAW",
           "PERIOD,CYCLE,EMPCODE,ALLW_DED_CODE,AMOUNT\n202401,1,OLD1,BONUS,1\n"
           "202401,1,OLD2,BONUS,2\n");
    const std::string before = Ok({"db", "export", co, "P_DTRXAW"});

    // Far more rows than are written before the signal comes.
    std::string big = "PERIOD,CYCLE,EMPCODE,ALLW_DED_CODE,AMOUNT,REMARK\n";
    for (int i = 0; i < 500000; ++i)
        big += "202403,1,E" + std::to_string(i) + ",TRV," + std::to_string(i % 997) +
               ".25,remark that fills the pages\n";
    const std::string csv = File("big.csv", big);
    const auto wal = dir / "CO" / "P_DTRXAW.ADT-wal";

    for (int sig : {SIGINT, SIGTERM, SIGKILL}) {
        SCOPED_TRACE(strsignal(sig));
        const auto walBefore = SizeOf(wal);
        TChild child = Start({"db", "import", co, "P_DTRXAW", csv}, dir);
        ASSERT_GT(child.Pid, 0);
        // Signalled once the import has written a good part of a megabyte of rows.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        bool writing = false, ended = false;
        while (!writing && !ended && std::chrono::steady_clock::now() < deadline) {
            writing = SizeOf(wal) > walBefore + 512 * 1024;
            ended = waitpid(child.Pid, &child.Status, WNOHANG) == child.Pid;
            if (!writing && !ended) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_FALSE(ended) << "the import ended before it was signalled: "
                            << Slurp(dir / "child.out") << Slurp(dir / "child.err");
        if (!writing) Wait(child, std::chrono::milliseconds(0));  // ends it
        ASSERT_TRUE(writing) << "the import wrote nothing within the time allowed";
        kill(child.Pid, sig);
        ASSERT_TRUE(Wait(child, std::chrono::seconds(15))) << "the import did not stop";

        // The import ends as the signal demands, after taking back its rows.
        ASSERT_TRUE(WIFSIGNALED(child.Status)) << "exit status " << child.Status;
        EXPECT_EQ(WTERMSIG(child.Status), sig);
        EXPECT_EQ(Slurp(dir / "child.out"), "");
        const std::string err = Slurp(dir / "child.err");
        if (sig != SIGKILL) {
            EXPECT_EQ(err.rfind("error: import of P_DTRXAW interrupted by ", 0), 0u) << err;
            EXPECT_NE(err.find("; nothing was imported\n"), std::string::npos) << err;
        }
        const std::string after = Ok({"db", "export", co, "P_DTRXAW"});
        EXPECT_TRUE(after == before) << std::count(after.begin(), after.end(), '\n') - 1
                                     << " rows instead of 2, from " << after.substr(0, 300);
    }
}

}  // namespace
}  // namespace peltorn
