// Data dictionaries encrypted at rest: nothing of the payroll is readable in the file, only a
// user's right password opens it, its keys file cannot be changed to let anybody else in, and a
// plain dictionary is encrypted in place with every row kept.
#include "DbFixture.h"
#include "db/DbFiles.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

using namespace peltorn;
using namespace peltorn::test;
using db::TDbQuery;
using db::TDbTable;

namespace {

constexpr const char* kEmpCode = "E4711XYZ";
constexpr double kAmount = 98765.4321;

std::string ReadBytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteBytes(const std::string& file, const std::string& text) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

unsigned Mode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

class DictionaryEncryptionTest : public DbTest {
protected:
    std::string Path() const { return Dir.Str() + "/NEW/DATA.ADD"; }
    std::string Keys() const { return Path() + db::kDictionaryKeysSuffix; }

    // A dictionary of two users holding PEOPLE with rows; plain or encrypted.
    void Make(db::TDictionaryStorage storage, int rows = 40) {
        db::CreateDictionary(Path(), {{"ADSSYS", "admin-pw"}, {"ORVEXSYS8", "maint-pw"}}, storage);
        Conn.SetConnectPath(Path());
        Conn.Username = "ADSSYS";
        Conn.Password = "admin-pw";
        db::CreateTable(Conn, PeopleTable());
        db::CreateTable(Conn, PeopleTable("OTHER"));
        TDbTable t("fill");
        t.SetConnection(&Conn);
        t.SetTableName("PEOPLE");
        t.Open();
        AddRow(t, kEmpCode, "202403", "1", 0, kAmount);
        for (int i = 1; i < rows; ++i) AddRow(t, "E" + std::to_string(i), "202403", "1", i, i);
        t.Close();
        db::FlushPendingWrites();
    }

    // Connects a new connection with the credentials; the rows of PEOPLE and the sum of AMOUNT,
    // read through a table and through a statement.
    std::pair<int, double> Read(const std::string& user, const std::string& password) {
        db::TDbConnection c("reader");
        c.SetConnectPath(Path());
        c.Username = user;
        c.Password = password;
        TDbTable t("t");
        t.SetConnection(&c);
        t.SetTableName("PEOPLE");
        t.Open();
        int n = 0;
        for (t.First(); !t.Eof(); t.Next()) ++n;
        TDbQuery q("q");
        q.SetConnection(&c);
        q.SQL().Add("SELECT sum(AMOUNT) AS S FROM PEOPLE");
        q.Open();
        double sum = q.FieldByName("S").AsFloat();
        q.Close();
        // The catalogue view is an attachment of the statement's handle: it must not take the
        // dictionary's key.
        q.SQL().Clear();
        q.SQL().Add("SELECT count(*) AS N FROM SYSTEM.COLUMNS WHERE PARENT = 'PEOPLE'");
        q.Open();
        EXPECT_EQ(q.FieldByName("N").AsInteger(), 8);
        return {n, sum};
    }

    // The error of a connection with the credentials (empty when it connects).
    std::string Refusal(const std::string& user, const std::string& password,
                        db::TDbErrorCode* code = nullptr) {
        db::TDbConnection c("refused");
        c.SetConnectPath(Path());
        c.Username = user;
        c.Password = password;
        try {
            c.Connect();
        } catch (const db::EDbDatabaseError& e) {
            if (code) *code = e.Code();
            return e.what();
        }
        return {};
    }
};

TEST_F(DictionaryEncryptionTest, TheFilesRevealNoTableEmployeeOrAmountAndAreTheOwnersOnly) {
    Make(db::TDictionaryStorage::Encrypted);
    EXPECT_TRUE(db::IsEncryptedDictionary(Path()));
    // While connected (the journal holds the latest pages) and after.
    Conn.Connect();
    for (int pass = 0; pass < 2; ++pass) {
        std::string bytes;
        for (const char* suffix : {"", "-wal", ".keys"}) bytes += ReadBytes(Path() + suffix);
        ASSERT_GT(bytes.size(), 4096u);
        char amount[8];
        std::uint64_t bits;
        std::memcpy(&bits, &kAmount, 8);
        for (int i = 0; i < 8; ++i) amount[i] = static_cast<char>(bits >> (56 - 8 * i));
        for (const std::string& secret :
             {std::string("PEOPLE"), std::string("SYS_DICTIONARY_USERS"), std::string(kEmpCode),
              std::string("98765"), std::string(amount, 8), std::string("ADSSYS"),
              std::string("admin-pw")})
            EXPECT_EQ(bytes.find(secret), std::string::npos) << pass << ": " << secret;
        Conn.Disconnect();
    }
    EXPECT_EQ(Mode(Path()), 0600u);
    EXPECT_EQ(Mode(Keys()), 0600u);
    EXPECT_EQ(Mode(Dir.Str() + "/NEW"), 0700u);

    // The stock shell cannot read it (nor change its users).
    if (std::system("command -v sqlite3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sqlite3";
    std::string cmd =
        "sqlite3 '" + Path() + "' 'SELECT count(*) FROM SYS_DICTIONARY_USERS' >/dev/null 2>&1";
    EXPECT_NE(std::system(cmd.c_str()), 0);
}

TEST_F(DictionaryEncryptionTest, EitherUsersPasswordOpensItAndNothingElseDoes) {
    Make(db::TDictionaryStorage::Encrypted);
    EXPECT_EQ(Read("ADSSYS", "admin-pw"), std::make_pair(40, kAmount + 40 * 39 / 2));
    EXPECT_EQ(Read("orvexsys8", "maint-pw"), std::make_pair(40, kAmount + 40 * 39 / 2));

    db::TDbErrorCode code{};
    EXPECT_EQ(Refusal("ADSSYS", "maint-pw", &code),
              "Login refused for user 'ADSSYS' on data dictionary " + Path());
    EXPECT_EQ(code, db::TDbErrorCode::LoginRefused);
    EXPECT_EQ(Refusal("NOBODY", "admin-pw"),
              "Login refused for user 'NOBODY' on data dictionary " + Path());

    const std::string keys = ReadBytes(Keys());
    std::istringstream lines(keys);
    std::string header, admin, maint;
    std::getline(lines, header);
    std::getline(lines, admin);
    std::getline(lines, maint);
    auto field = [](const std::string& line, int n) {
        std::istringstream in(line);
        std::string f;
        for (int i = 0; i <= n; ++i) in >> f;
        return f;
    };
    auto replaceField = [&](std::string line, int n, const std::string& value) {
        const std::string old = field(line, n);
        line.replace(line.find(" " + old) + 1, old.size(), value);
        return line;
    };
    auto flipLastDigit = [](std::string hex) {
        hex.back() = hex.back() == '0' ? '1' : '0';
        return hex;
    };
    // A changed wrapped key, tag, salt or iteration count refuses that user only.
    for (int f : {2, 3, 4, 5, 6}) {
        const std::string changed = f == 2 ? replaceField(admin, 2, "120001")
                                           : replaceField(admin, f, flipLastDigit(field(admin, f)));
        WriteBytes(Keys(), header + "\n" + changed + "\n" + maint + "\n");
        EXPECT_NE(Refusal("ADSSYS", "admin-pw", &code), "") << f;
        EXPECT_EQ(code, db::TDbErrorCode::LoginRefused) << f;
        EXPECT_EQ(Refusal("ORVEXSYS8", "maint-pw"), "") << f;
    }
    // The maintenance user's entry given the administrator's name does not let the maintenance
    // password in as the administrator.
    WriteBytes(Keys(), header + "\n" + replaceField(maint, 1, field(admin, 1)) + "\n");
    EXPECT_NE(Refusal("ADSSYS", "maint-pw"), "");
    // Without its keys file nobody opens it; the error names the file.
    std::filesystem::remove(Keys());
    EXPECT_NE(Refusal("ADSSYS", "admin-pw").find(Keys()), std::string::npos);
    WriteBytes(Keys(), keys);
    EXPECT_EQ(Refusal("ADSSYS", "admin-pw"), "");
}

TEST_F(DictionaryEncryptionTest, SecuringAPlainDictionaryKeepsEveryRowForBothUsers) {
    Make(db::TDictionaryStorage::Plain, 3000);
    EXPECT_FALSE(db::IsEncryptedDictionary(Path()));
    Conn.Connect();
    EXPECT_FALSE(Conn.IsEncryptedDictionary());
    TDbTable other("other");
    other.SetConnection(&Conn);
    other.SetTableName("OTHER");
    other.Open();
    AddRow(other, "X1", "202401", "S", 1, 12.5);
    other.Close();
    db::FlushPendingWrites();

    // Refused while another connection has it open, for a wrong password and for a user whose
    // password is not known; the file stays plain each time.
    ASSERT_EQ(CommittedRowsIn(Path(), "PEOPLE"), 3000);
    auto refusal = [&](const std::string& password, const std::string& otherPassword) {
        try {
            db::SecureDictionary(Path(), "ADSSYS", password, {{"ORVEXSYS8", otherPassword}});
        } catch (const db::EDbDatabaseError& e) {
            return e.Code();
        }
        return db::TDbErrorCode::General;
    };
    EXPECT_EQ(refusal("admin-pw", "maint-pw"), db::TDbErrorCode::TableInUse);
    Conn.Disconnect();
    EXPECT_EQ(refusal("wrong", "maint-pw"), db::TDbErrorCode::LoginRefused);
    EXPECT_EQ(refusal("admin-pw", "wrong"), db::TDbErrorCode::LoginRefused);
    EXPECT_EQ(CommittedRowsIn(Path(), "PEOPLE"), 3000);
    EXPECT_FALSE(std::filesystem::exists(Keys()));

    std::vector<std::string> steps;
    auto done = db::SecureDictionary(Path(), "ADSSYS", "admin-pw",
                                     {{"ORVEXSYS8", "nope"}, {"ORVEXSYS8", "maint-pw"}},
                                     [&](const char* s) { steps.push_back(s); });
    EXPECT_EQ(steps,
              (std::vector<std::string>{"exported", "keys-written", "keys-renamed", "renamed"}));
    EXPECT_EQ(done.Users, (std::vector<std::string>{"ADSSYS", "ORVEXSYS8"}));
    EXPECT_EQ(done.Tables,
              (std::vector<std::pair<std::string, std::int64_t>>{{"OTHER", 1}, {"PEOPLE", 3000}}));
    EXPECT_TRUE(db::IsEncryptedDictionary(Path()));
    EXPECT_EQ(CommittedRowsIn(Path(), "PEOPLE"), -1);  // no longer readable without the key
    EXPECT_EQ(Mode(Path()), 0600u);
    EXPECT_EQ(Mode(Keys()), 0600u);
    EXPECT_EQ(Read("ADSSYS", "admin-pw"), std::make_pair(3000, kAmount + 3000 * 2999 / 2));
    EXPECT_EQ(Read("ORVEXSYS8", "maint-pw"), std::make_pair(3000, kAmount + 3000 * 2999 / 2));
    EXPECT_NE(Refusal("ADSSYS", "maint-pw"), "");
    for (const char* left : {".encrypting", ".keys.encrypting", "-wal", "-journal"})
        EXPECT_FALSE(std::filesystem::exists(Path() + left)) << left;

    // The table written last and the indexes came along; the dictionary is written as before.
    Conn.Connect();
    EXPECT_TRUE(Conn.IsEncryptedDictionary());
    TDbTable people("people");
    people.SetConnection(&Conn);
    people.SetTableName("PEOPLE");
    people.SetIndexFieldNames("EMPCODE;PERIOD;CYCLE");
    people.Open();
    ASSERT_TRUE(people.FindKey({kEmpCode}));
    EXPECT_EQ(people.FieldByName("AMOUNT").AsCurrency(), db::TCurrency::FromDouble(kAmount));
    AddRow(people, "E9999", "202404", "1", 9999, 1);
    people.Close();
    other.Open();
    EXPECT_EQ(other.FieldByName("EMPCODE").AsString(), "X1");
    other.Close();
    Conn.Disconnect();
    EXPECT_EQ(Read("ADSSYS", "admin-pw").first, 3001);
    EXPECT_THROW(db::SecureDictionary(Path(), "ADSSYS", "admin-pw", {}), db::EDbDatabaseError);
}

}  // namespace
