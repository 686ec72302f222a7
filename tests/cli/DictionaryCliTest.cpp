// peltorn db and encrypted data dictionaries, run as the built tool: create-company makes them
// encrypted for both of the installation's users, a plain one is said to be not encrypted, and
// secure-dictionary encrypts it in place, keeping every row, whatever moment it is killed at.
#include "DbCliFixture.h"
#include "TestSupport.h"
#include "db/DbFixture.h"
#include "signon/Credentials.h"
#include "signon/DB_UTIL.h"
#include "signon/PasswordUTIL.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

namespace peltorn {
namespace {

using test::CliResult;
using test::RunCli;

const std::string kAdminPassword = signon::AdminPasswordForMark(std::string("@2019"));

unsigned Mode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

class DictionaryCliTest : public test::DbCliFixture {
protected:
    std::vector<std::string> Admin() const { return {"--password", kAdminPassword}; }
    std::vector<std::string> With(std::vector<std::string> args,
                                  const std::vector<std::string>& extra) const {
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    // A plain dictionary with the installation's two users (and more when given) and a table of
    // 500 rows, as an older installation has it.
    std::string PlainDictionary(const std::string& name,
                                std::vector<db::TDictionaryUser> more = {}) {
        const std::string path = (dir / name).string();
        more.insert(more.begin(), {{signon::kAdminUser, kAdminPassword},
                                   {signon::kMaintenanceUser, signon::MaintenancePassword()}});
        db::CreateDictionary(path, more, db::TDictionaryStorage::Plain);
        db::TDbConnection conn("plain");
        conn.SetConnectPath(path);
        conn.Username = signon::kAdminUser;
        conn.Password = kAdminPassword;
        db::CreateTable(conn, test::PeopleTable());
        db::TDbTable t("fill");
        t.SetConnection(&conn);
        t.SetTableName("PEOPLE");
        t.Open();
        for (int i = 0; i < 500; ++i) {
            t.Append();
            t.FieldByName("EMPCODE").SetAsString("E" + std::to_string(i));
            t.FieldByName("PERIOD").SetAsString("202403");
            t.FieldByName("SEQ").SetAsInteger(i);
            t.FieldByName("AMOUNT").SetAsFloat(i * 10.25);
            t.Post();
        }
        t.Close();
        conn.Disconnect();
        db::FlushPendingWrites();
        return path;
    }

    // Every row of PEOPLE as the tool prints them, read with the login (plain or encrypted).
    std::string Rows(const std::string& dict, const std::vector<std::string>& login) {
        CliResult r = RunCli(
            With({"db", "sql", dict, "SELECT EMPCODE, AMOUNT FROM PEOPLE ORDER BY SEQ"}, login));
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        return r.Out;
    }

    // Runs secure-dictionary with the test hook that stops the tool at step, kills it there with
    // SIGKILL, and returns whether it was stopped at the step (the wait is bounded).
    bool KillAt(const std::string& path, const std::string& step) {
        pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("PELTORN_TEST_HOOK_STOP_AT", step.c_str(), 1);
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execl(PELTORN_CLI_PATH, PELTORN_CLI_PATH, "db", "secure-dictionary", path.c_str(),
                    "--password", kAdminPassword.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        bool stopped = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            pid_t got = ::waitpid(pid, &status, WUNTRACED | WNOHANG);
            if (got == pid) {
                stopped = WIFSTOPPED(status);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return stopped;
    }
};

TEST_F(DictionaryCliTest, CreateCompanyMakesAnEncryptedDictionaryForBothUsers) {
    const std::string dict = (dir / "CO" / "CO.ADD").string();
    Ok({"db", "create-company", dict});
    EXPECT_EQ(Mode(dict), 0600u);
    EXPECT_EQ(Mode(dict + ".keys"), 0600u);
    EXPECT_EQ(Mode((dir / "CO").string()), 0700u);
    EXPECT_EQ(Ok({"db", "is-encrypted", dict}), "yes\n");
    EXPECT_EQ(Ok(With({"db", "is-encrypted", dict, "P_HTRX"}, Admin())), "yes\n");
    Ok(With({"db", "import", dict, "P_HTRX",
             File("h.csv", "EMPCODE,PERIOD,CYCLE,NETT_WAGE\nE4711,202403,1,8765.5\n")},
            Admin()));
    // The maintenance user reads the version mark as the sign-on does.
    EXPECT_EQ(Ok({"db", "sql", dict, "SELECT DBVERSION FROM PAYPARA", "--user",
                  signon::kMaintenanceUser, "--password", signon::MaintenancePassword()}),
              "DBVERSION\r\n@2019\r\n");
    const std::string out = (dir / "h.out").string();
    EXPECT_EQ(Ok(With({"db", "export", dict, "P_HTRX", "--output", out}, Admin())), "");
    EXPECT_EQ(Mode(out), 0600u);
    const std::string stdoutRows = Ok(With({"db", "export", dict, "P_HTRX"}, Admin()));
    std::ifstream in(out, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), stdoutRows);
    EXPECT_NE(stdoutRows.find("E4711,"), std::string::npos);
    // A failed export leaves no file behind.
    const std::string none = (dir / "none.out").string();
    Fails({"db", "export", dict, "P_HTRX", "--output", none, "--password", "wrong"});
    Fails(With({"db", "export", dict, "NOSUCH", "--output", none}, Admin()));
    EXPECT_FALSE(fs::exists(none));
    EXPECT_FALSE(fs::exists(none + ".writing"));
}

TEST_F(DictionaryCliTest, APlainDictionaryIsSaidToBeNotEncryptedUntilSecured) {
    const std::string dict = PlainDictionary("OLD.ADD", {{"CLERK", "clerk-pw"}});
    CliResult r = RunCli(With({"db", "export", dict, "PEOPLE"}, Admin()));
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_NE(r.Err.find("data dictionary " + dict + " is not encrypted"), std::string::npos)
        << r.Err;
    const std::string rows = r.Out;
    EXPECT_EQ(Ok({"db", "is-encrypted", dict}), "no\n");

    // CLERK's password is not one the program knows: refused, nothing changed.
    std::string err = Fails(With({"db", "secure-dictionary", dict}, Admin()));
    EXPECT_NE(err.find("CLERK"), std::string::npos) << err;
    Fails({"db", "secure-dictionary", dict, "--password", "wrong", "--user-password",
           "CLERK=clerk-pw"});
    EXPECT_EQ(Ok({"db", "is-encrypted", dict}), "no\n");

    EXPECT_EQ(
        Ok(With({"db", "secure-dictionary", dict, "--user-password", "CLERK=clerk-pw"}, Admin())),
        dict + " encrypted: 1 tables, 500 rows; users ADSSYS, ORVEXSYS8, CLERK\n");
    EXPECT_EQ(Ok({"db", "is-encrypted", dict}), "yes\n");
    EXPECT_EQ(Ok(With({"db", "export", dict, "PEOPLE"}, Admin())), rows);  // no note any more
    EXPECT_EQ(Ok({"db", "export", dict, "PEOPLE", "--user", "CLERK", "--password", "clerk-pw"}),
              rows);
    err = Fails(With({"db", "secure-dictionary", dict}, Admin()));
    EXPECT_NE(err.find("encrypted already"), std::string::npos) << err;
}

// Killed at each step, the dictionary is either the plain one or the complete encrypted one, and
// opens with every row; a second run finishes the work.
TEST_F(DictionaryCliTest, SecureDictionaryKilledAtAnyStepLosesNothing) {
    for (const std::string step : {"exported", "keys-written", "keys-renamed", "renamed"}) {
        const std::string dict = PlainDictionary(step + ".ADD");
        const std::string rows = Rows(dict, Admin());
        ASSERT_EQ(std::count(rows.begin(), rows.end(), '\n'), 501);
        ASSERT_TRUE(KillAt(dict, step)) << step;
        const bool encrypted = step == "renamed";
        EXPECT_EQ(Ok({"db", "is-encrypted", dict}), encrypted ? "yes\n" : "no\n") << step;
        EXPECT_EQ(Rows(dict, Admin()), rows) << step;
        EXPECT_EQ(Rows(dict, {"--user", signon::kMaintenanceUser, "--password",
                              signon::MaintenancePassword()}),
                  rows)
            << step;
        if (!encrypted) {
            Ok(With({"db", "secure-dictionary", dict}, Admin()));
            EXPECT_EQ(Ok({"db", "is-encrypted", dict}), "yes\n") << step;
            EXPECT_EQ(Rows(dict, Admin()), rows) << step;
        }
        for (const char* left : {".encrypting", ".keys.encrypting"})
            EXPECT_FALSE(fs::exists(dict + left)) << step << left;
    }
}

}  // namespace
}  // namespace peltorn
