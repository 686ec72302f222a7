// Encrypted free tables: the file is not readable as plain SQLite, the password is required and
// checked, EncryptTable keeps every row, statements reach encrypted tables with their password.
#include "DbFixture.h"

#include "db/KeyDerivation.h"

#include <openssl/evp.h>
#include <sqlcipher/sqlite3.h>

#include <fstream>
#include <tuple>
#include <vector>

using namespace peltorn;
using namespace peltorn::test;
using db::TDbQuery;
using db::TDbTable;

namespace {

class EncryptionTest : public DbTest {
protected:
    void SetUp() override {
        MakeFree();
        db::CreateTable(Conn, PeopleTable());
        TDbTable t("fill");
        t.SetConnection(&Conn);
        t.SetTableName("PEOPLE");
        t.Open();
        for (int i = 1; i <= 50; ++i)
            AddRow(t, "E" + std::to_string(i % 7), "202401", "1", i, i * 1.25);
    }
    std::string File() const { return Dir.Str() + "/PEOPLE.ADT"; }

    void Encrypt(const std::string& password) {
        TDbTable t("enc");
        t.SetConnection(&Conn);
        t.SetTableName("PEOPLE");
        t.SetExclusive(true);
        t.Open();
        ASSERT_FALSE(t.IsTableEncrypted());
        t.EnableEncryption(password);
        t.EncryptTable();
        EXPECT_TRUE(t.IsTableEncrypted());
    }

    // Whether the stock engine can read the file without a key.
    bool PlainReadable() {
        sqlite3* db = nullptr;
        sqlite3_open_v2(File().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        int rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return rc == SQLITE_OK;
    }
};

TEST_F(EncryptionTest, EncryptTableKeepsEveryRowAndTheFileIsNoLongerPlain) {
    EXPECT_TRUE(PlainReadable());
    Encrypt("KQZLV4862");
    EXPECT_FALSE(PlainReadable());
    std::ifstream in(File(), std::ios::binary);
    char header[16];
    in.read(header, 16);
    EXPECT_NE(std::string(header, 15), "SQLite format 3");

    TDbTable t("t");
    t.SetConnection(&Conn);
    t.SetTableName("PEOPLE");
    t.EncryptionPassword = "KQZLV4862";
    t.SetIndexFieldNames("EMPCODE;PERIOD;CYCLE");
    t.Open();
    EXPECT_EQ(t.RecordCount(), 50);
    double total = 0;
    for (t.First(); !t.Eof(); t.Next()) total += t.FieldByName("AMOUNT").AsFloat();
    EXPECT_DOUBLE_EQ(total, 1.25 * (50 * 51 / 2));  // 1.25 * (1 + ... + 50)
    EXPECT_EQ(t.IndexDefs().size(), 2u);
}

TEST_F(EncryptionTest, OpenWithoutPasswordSucceedsButRecordsNeedIt) {
    Encrypt("KQZLV4862");
    TDbTable t("t");
    t.SetConnection(&Conn);
    t.SetTableName("PEOPLE");
    t.Open();
    EXPECT_TRUE(t.IsTableEncrypted());
    EXPECT_THROW(t.First(), db::EDbDatabaseError);
    EXPECT_THROW(t.EnableEncryption("wrong"), db::EDbDatabaseError);
    EXPECT_THROW(t.RecordCount(), db::EDbDatabaseError);
    t.EnableEncryption("KQZLV4862");
    EXPECT_EQ(t.RecordCount(), 50);
    t.Append();
    t.FieldByName("SEQ").SetAsInteger(51);
    t.Post();
    EXPECT_EQ(t.RecordCount(), 51);
}

TEST_F(EncryptionTest, EnableEncryptionOnPlainTableIsHarmless) {
    TDbTable t("t");
    t.SetConnection(&Conn);
    t.SetTableName("PEOPLE");
    t.Open();
    t.EnableEncryption("KQZLV4862");
    EXPECT_FALSE(t.IsTableEncrypted());
    EXPECT_EQ(t.RecordCount(), 50);
    EXPECT_TRUE(PlainReadable());
}

TEST_F(EncryptionTest, StatementsNeedTheTablePasswordAndRefuseAWrongOne) {
    Encrypt("KQZLV4862");
    TDbQuery q("q");
    q.SetConnection(&Conn);
    q.SQL().Add("SELECT count(*) AS N FROM PEOPLE");
    EXPECT_THROW(q.Open(), db::EDbDatabaseError);
    q.SetTablePassword("people", "nope");
    try {
        q.Open();
        FAIL();
    } catch (const db::EDbDatabaseError& e) {
        EXPECT_EQ(e.Code(), db::TDbErrorCode::WrongPassword);
        EXPECT_NE(std::string(e.what()).find("PEOPLE"), std::string::npos);
    }
    q.SetTablePassword("PEOPLE", "KQZLV4862");
    q.Open();
    EXPECT_EQ(q.FieldByName("N").AsInteger(), 50);
    q.Close();
    // The statement password serves every encrypted table; passwords are lost on disconnect.
    TDbQuery del("del");
    del.SetConnection(&Conn);
    del.EnableEncryption("KQZLV4862");
    del.SQL().Add("DELETE FROM \"PEOPLE\" WHERE SEQ > 40");
    del.ExecSQL();
    EXPECT_EQ(del.RowsAffected(), 10);
    Conn.Disconnect();
    EXPECT_THROW(del.ExecSQL(), db::EDbDatabaseError);
}

TEST_F(EncryptionTest, EncryptingIsRefusedWhileOthersHoldTheTable) {
    TDbTable holder("holder");
    holder.SetConnection(&Conn);
    holder.SetTableName("PEOPLE");
    holder.Open();
    TDbTable t("t");
    t.SetConnection(&Conn);
    t.SetTableName("PEOPLE");
    t.Open();
    t.EnableEncryption("pw");
    EXPECT_THROW(t.EncryptTable(), db::EDbDatabaseError);
    EXPECT_FALSE(t.IsTableEncrypted());
    EXPECT_EQ(holder.RecordCount(), 50);
}

TEST_F(EncryptionTest, QueryCachedAttachmentIsReleasedWhenTheFileIsEncrypted) {
    TDbQuery q("q");
    q.SetConnection(&Conn);
    q.SQL().Add("SELECT count(*) AS N FROM PEOPLE");
    q.Open();
    EXPECT_EQ(q.FieldByName("N").AsInteger(), 50);
    q.Close();
    Encrypt("pw");
    q.SetTablePassword("PEOPLE", "pw");
    q.Open();
    EXPECT_EQ(q.FieldByName("N").AsInteger(), 50);
}

TEST_F(EncryptionTest, AFileThatIsNotATableIsRefused) {
    {
        std::ofstream out(Dir.Str() + "/JUNK.ADT", std::ios::binary);
        out << "this is not a database file at all, just text";
    }
    TDbTable t("t");
    t.SetConnection(&Conn);
    t.SetTableName("JUNK");
    t.Open();  // looks encrypted
    EXPECT_THROW(t.EnableEncryption("pw"), db::EDbDatabaseError);
    std::ifstream in(Dir.Str() + "/JUNK.ADT");
    std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(content, "this is not a database file at all, just text");  // not damaged
}

}  // namespace

// The layer derives its keys in slices, calling the heartbeat between them; the keys must be
// exactly those of the crypto library's own PBKDF2, or files encrypted before would not open.
TEST(KeyDerivationTest, EqualsTheLibrarysPbkdf2AndCallsTheHeartbeat) {
    int beats = 0;
    db::TStatementHeartbeat heartbeat([&beats] { ++beats; }, 0);
    const std::string salt = "peltorn table password v1";
    const auto* saltBytes = reinterpret_cast<const unsigned char*>(salt.data());
    for (const auto& [password, iterations, length] :
         {std::tuple<std::string, int, std::size_t>{"secret", 1, 32},
          {"P@ssw0rd with spaces", 4001, 32},
          {"", 2, 20},
          {"a longer password than one block", 6000, 70}}) {
        std::vector<unsigned char> ours(length), theirs(length);
        ASSERT_TRUE(db::detail::DeriveKey(password, saltBytes, salt.size(), iterations, ours.data(),
                                          length));
        ASSERT_EQ(PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), saltBytes,
                                    static_cast<int>(salt.size()), iterations, EVP_sha256(),
                                    static_cast<int>(length), theirs.data()),
                  1);
        EXPECT_EQ(ours, theirs) << password << ", " << iterations << " rounds";
    }
    EXPECT_GE(beats, 4);  // the longer derivations call it between their slices
}
