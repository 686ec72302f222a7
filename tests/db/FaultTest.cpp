// Faults a real installation meets: a write that fails past a file-size limit, another process
// opening and closing a table while this one writes, damaged and read-only table files, and null
// character keys. Each fault is produced for real (a child process under a file-size limit or
// without root's rights, a second program on the same files), never imitated.
#include "DbFixture.h"

#include <sqlcipher/sqlite3.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

using namespace peltorn;
using namespace peltorn::test;
using db::TDbTable;

namespace {

// Runs body in a child process and returns its exit status (or 128 + signal). The child writes
// what it wants the parent to see into message.
int InChild(const std::function<int(std::string&)>& body, std::string& message) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        std::string text;
        int code = 99;
        try {
            code = body(text);
        } catch (const std::exception& e) {
            text = std::string("unexpected: ") + e.what();
        }
        (void)!::write(pipeFds[1], text.data(), text.size());
        ::_exit(code);
    }
    ::close(pipeFds[1]);
    char buf[4096];
    ssize_t n;
    message.clear();
    while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0)
        message.append(buf, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// In the child: writes past limitBytes into any file fail with EFBIG (as under
// "trap '' XFSZ; ulimit -f N").
void LimitFileSize(rlim_t limitBytes) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl {
        limitBytes, limitBytes
    };
    ::setrlimit(RLIMIT_FSIZE, &rl);
}

constexpr int kWriteRefused = 10;

class WriteFailureTest : public DbTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        MakeLayout(GetParam());
        db::CreateTable(Conn, PeopleTable());
        Conn.Disconnect();
    }
    // In a child under a file-size limit: posts enough rows that their commit must pass the
    // limit, then ends the way given; exits kWriteRefused when the layer raised the failure.
    int PostThen(const std::function<void(TDbTable&)>& finish, std::string& message) {
        return InChild(
            [&](std::string& text) {
                Conn.Connect();
                TDbTable t("t");
                t.SetConnection(&Conn);
                t.SetTableName("PEOPLE");
                t.Open();
                LimitFileSize(48 * 1024);
                try {
                    // About 200 KB of rows, posted within one commit group.
                    const std::string note(500, 'n');
                    for (int i = 0; i < 400; ++i) {
                        t.Append();
                        t.FieldByName("EMPCODE").SetAsString("E" + std::to_string(i));
                        t.FieldByName("NOTE").SetAsString(note);
                        t.Post();
                    }
                    finish(t);
                } catch (const db::EDbDatabaseError& e) {
                    text = e.what();
                    return kWriteRefused;
                }
                return 0;
            },
            message);
    }
};

// Every way a group of posted records is committed either writes them or raises an error that
// names the table and says why; none passes over the failure.
TEST_P(WriteFailureTest, CommitThatFailsIsRaisedAtCloseFlushAndDisconnect) {
    const std::vector<std::pair<std::string, std::function<void(TDbTable&)>>> ends = {
        {"close", [](TDbTable& t) { t.Close(); }},
        {"flush buffers", [](TDbTable& t) { t.FlushFileBuffers(); }},
        {"flush pending writes", [](TDbTable&) { db::FlushPendingWrites(); }},
        {"disconnect", [this](TDbTable&) { Conn.Disconnect(); }},
    };
    for (const auto& [name, finish] : ends) {
        std::string message;
        EXPECT_EQ(PostThen(finish, message), kWriteRefused) << name << ": " << message;
        EXPECT_NE(message.find("disk full"), std::string::npos) << name << ": " << message;
        EXPECT_NE(message.find("PEOPLE"), std::string::npos) << name << ": " << message;
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, WriteFailureTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Dictionary" : "FreeTables";
                         });

// Runs the command-line tool's "db sql" on the database: another program that opens the table,
// reads it and closes it again.
int OtherProgramCounts(const std::string& path, const std::string& table) {
    std::string cmd = std::string("'") + PELTORN_CLI_PATH + "' db sql --password pw '" + path +
                      "' 'SELECT count(*) FROM " + table + "' >/dev/null 2>&1";
    return std::system(cmd.c_str());
}

class SharedFileTest : public DbTest, public ::testing::WithParamInterface<bool> {};

// The layer's own locks and header reads must not drop the storage engine's locks: if they did,
// the other program would take the file for unused when it closes, delete the live journal
// files, and the records committed afterwards would be lost.
TEST_P(SharedFileTest, AnotherProgramOpeningAndClosingTheTableLosesNothing) {
    MakeLayout(GetParam());
    db::CreateTable(Conn, PeopleTable());
    const std::string file = GetParam() ? Dir.Str() + "/DATA.ADD" : Dir.Str() + "/PEOPLE.ADT";
    TDbTable writer("writer");
    writer.SetConnection(&Conn);
    writer.SetTableName("PEOPLE");
    writer.Open();
    AddRow(writer, "E1", "202401", "1", 1);
    db::FlushPendingWrites();
    {
        // A second dataset of this process, opened and closed on the same table, and a look at
        // whether the file is encrypted.
        TDbTable reader("reader");
        reader.SetConnection(&Conn);
        reader.SetTableName("PEOPLE");
        reader.Open();
        EXPECT_FALSE(reader.IsTableEncrypted());
        reader.Close();
    }
    ASSERT_EQ(OtherProgramCounts(GetParam() ? file : Dir.Str(), "PEOPLE"), 0);
    EXPECT_TRUE(std::filesystem::exists(file + "-wal")) << "the live journal was deleted";
    AddRow(writer, "E2", "202401", "1", 2);
    db::FlushPendingWrites();
    ASSERT_EQ(OtherProgramCounts(GetParam() ? file : Dir.Str(), "PEOPLE"), 0);
    AddRow(writer, "E3", "202401", "1", 3);
    db::FlushPendingWrites();
    // A reader that comes afterwards sees every committed record.
    EXPECT_EQ(CommittedRowsIn(file, "PEOPLE"), 3);
    writer.Close();
    Conn.Disconnect();
    EXPECT_EQ(CommittedRowsIn(file, "PEOPLE"), 3);
}

// Exclusive use still conflicts between datasets of one process and with another process.
TEST_P(SharedFileTest, ExclusiveUseStillConflictsWithOtherDatasetsAndProcesses) {
    MakeLayout(GetParam());
    db::CreateTable(Conn, PeopleTable());
    TDbTable first("first");
    first.SetConnection(&Conn);
    first.SetTableName("PEOPLE");
    first.Open();
    TDbTable second("second");
    second.SetConnection(&Conn);
    second.SetTableName("PEOPLE");
    second.SetExclusive(true);
    EXPECT_THROW(second.Open(), db::EDbDatabaseError);
    first.Close();
    second.Open();  // nobody else has it now
    std::string message;
    int code = InChild(
        [&](std::string& text) {
            db::TDbConnection other("other");
            other.SetConnectPath(Conn.ConnectPath());
            other.Username = Conn.Username;
            other.Password = Conn.Password;
            TDbTable t("t");
            t.SetConnection(&other);
            t.SetTableName("PEOPLE");
            try {
                t.Open();
            } catch (const db::EDbDatabaseError& e) {
                text = e.what();
                return e.Code() == db::TDbErrorCode::TableInUse ? 0 : 2;
            }
            return 1;
        },
        message);
    EXPECT_EQ(code, 0) << message;
    EXPECT_NE(message.find("by another user"), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(Layouts, SharedFileTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Dictionary" : "FreeTables";
                         });

// ---- what an error says ----

class DamagedFileTest : public DbTest {
protected:
    void SetUp() override {
        MakeFree();
        db::CreateTable(Conn, PeopleTable());
        TDbTable t("t");
        t.SetConnection(&Conn);
        t.SetTableName("PEOPLE");
        t.Open();
        for (int i = 0; i < 200; ++i) AddRow(t, "E" + std::to_string(i), "202401", "1", i);
        t.Close();
        Conn.Disconnect();
    }
    std::string File() const { return Dir.Str() + "/PEOPLE.ADT"; }
    // The text of the error that reading every record of the table (with the password) raises.
    std::string ReadingFails(const std::string& password = "pw") {
        db::TDbConnection conn("c");
        conn.SetConnectPath(Dir.Str());
        TDbTable t("t");
        t.SetConnection(&conn);
        t.SetTableName("PEOPLE");
        t.EncryptionPassword = password;
        try {
            t.Open();
            for (t.First(); !t.Eof(); t.Next()) {
            }
        } catch (const db::EDbError& e) {
            return e.what();
        }
        return "no error";
    }
};

TEST_F(DamagedFileTest, TruncatedRandomAndOverwrittenFilesAreDamagedNotAWrongPassword) {
    const auto size = std::filesystem::file_size(File());
    std::filesystem::resize_file(File(), size / 2);
    std::string truncated = ReadingFails();
    EXPECT_NE(truncated.find("not a database file or damaged"), std::string::npos) << truncated;

    std::mt19937 random(7);
    for (std::size_t bytes : {std::size_t{3000}, std::size_t{16 * 1024 + 17}}) {
        std::ofstream out(File(), std::ios::binary | std::ios::trunc);
        for (std::size_t i = 0; i < bytes; ++i) out.put(static_cast<char>(random()));
        out.close();
        std::string text = ReadingFails();
        EXPECT_NE(text.find("not a database file or damaged"), std::string::npos) << text;
        EXPECT_EQ(text.find("password"), std::string::npos) << text;
    }
}

TEST_F(DamagedFileTest, OverwrittenPagesAreDamaged) {
    {
        std::fstream f(File(), std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(1024 * 2);
        for (int i = 0; i < 3000; ++i) f.put(static_cast<char>(0x5A));
    }
    std::string text = ReadingFails();
    EXPECT_NE(text.find("not a database file or damaged"), std::string::npos) << text;
}

TEST_F(DamagedFileTest, EncryptedTableWithTheWrongPasswordIsAWrongPassword) {
    {
        Conn.Connect();
        TDbTable t("t");
        t.SetConnection(&Conn);
        t.SetTableName("PEOPLE");
        t.Open();
        t.EnableEncryption("right");
        t.EncryptTable();
        t.Close();
        Conn.Disconnect();
    }
    std::string text = ReadingFails("wrong");
    EXPECT_NE(text.find("Wrong table password"), std::string::npos) << text;
    EXPECT_EQ(ReadingFails("right"), "no error");
}

// A read-only file or folder says so; it is neither in use nor guarded by a wrong password. As
// root every file is writable, so the child gives up root's rights first.
TEST_F(DamagedFileTest, ReadOnlyFileAndFolderSaySo) {
    std::filesystem::permissions(File(), std::filesystem::perms::owner_read |
                                             std::filesystem::perms::group_read |
                                             std::filesystem::perms::others_read);
    std::filesystem::permissions(
        Dir.Path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec |
                        std::filesystem::perms::group_read | std::filesystem::perms::group_exec |
                        std::filesystem::perms::others_read | std::filesystem::perms::others_exec);
    std::filesystem::permissions(Dir.Path().parent_path(), std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    std::string message;
    int code = InChild(
        [&](std::string& text) {
            if (::geteuid() == 0 && ::setuid(65534) != 0) return 3;
            db::TDbConnection conn("c");
            conn.SetConnectPath(Dir.Str());
            TDbTable t("t");
            t.SetConnection(&conn);
            t.SetTableName("PEOPLE");
            t.SetExclusive(true);
            try {
                t.Open();
            } catch (const db::EDbError& e) {
                text = std::string("exclusive: ") + e.what();
            }
            t.SetExclusive(false);
            try {
                t.Open();
                AddRow(t, "X", "202401", "1", 1);
                t.Close();
            } catch (const db::EDbError& e) {
                text += std::string("\nwrite: ") + e.what();
            }
            return 0;
        },
        message);
    std::filesystem::permissions(Dir.Path(), std::filesystem::perms::owner_all);
    ASSERT_EQ(code, 0) << message;
    auto exclusive = message.substr(0, message.find('\n'));
    auto write = message.substr(message.find('\n') + 1);
    EXPECT_NE(exclusive.find("read-only"), std::string::npos) << message;
    EXPECT_EQ(exclusive.find("in use"), std::string::npos) << message;
    EXPECT_NE(write.find("read-only"), std::string::npos) << message;
    EXPECT_EQ(write.find("password"), std::string::npos) << message;
}

// ---- null character keys ----

class NullKeyTest : public DbTest {
protected:
    void SetUp() override { MakeFreePeople(Table, true, "EMPCODE;PERIOD;CYCLE"); }
    // A row written by another program, whose character key fields are null.
    void PutNulls(const std::string& emp, const char* period, const char* cycle, int seq) {
        db::TDbQuery q("q");
        q.SetConnection(&Conn);
        auto lit = [](const char* v) {
            return v ? "'" + std::string(v) + "'" : std::string("NULL");
        };
        q.SQL().Add("INSERT INTO PEOPLE (EMPCODE, PERIOD, CYCLE, SEQ) VALUES ('" + emp + "', " +
                    lit(period) + ", " + lit(cycle) + ", " + std::to_string(seq) + ")");
        q.ExecSQL();
    }
    TDbTable Table{"t"};
};

TEST_F(NullKeyTest, EmptyTextFindsARecordWhoseKeyIsNull) {
    PutNulls("A", nullptr, "1", 1);
    PutNulls("B", "202401", nullptr, 2);
    ASSERT_TRUE(Table.FindKey({"A", ""}));
    EXPECT_EQ(Table.FieldByName("SEQ").AsInteger(), 1);
    ASSERT_TRUE(Table.FindKey({"B", "202401", ""}));
    EXPECT_EQ(Table.FieldByName("SEQ").AsInteger(), 2);
    EXPECT_FALSE(Table.FindKey({"B", "202402", ""}));
    // An empty text written by this layer is found the same way.
    AddRow(Table, "C", "", "1", 3);
    ASSERT_TRUE(Table.FindKey({"C", ""}));
    EXPECT_EQ(Table.FieldByName("SEQ").AsInteger(), 3);
}

TEST_F(NullKeyTest, PriorVisitsRecordsThatAreNullInALaterKeyField) {
    PutNulls("A", "202401", "1", 1);
    PutNulls("A", nullptr, "1", 2);
    PutNulls("A", "202401", nullptr, 3);
    PutNulls("B", nullptr, nullptr, 4);
    std::vector<int> forward, backward;
    for (Table.First(); !Table.Eof(); Table.Next())
        forward.push_back(Table.FieldByName("SEQ").AsInteger());
    for (Table.Last(); !Table.Bof(); Table.Prior())
        backward.push_back(Table.FieldByName("SEQ").AsInteger());
    EXPECT_EQ(forward, (std::vector<int>{2, 3, 1, 4}));
    EXPECT_EQ(backward, (std::vector<int>{4, 1, 3, 2}));
}

}  // namespace
