// peltorn db: the administrator's database tool. It creates the main database and company
// databases from the schema catalogue, lists tables and their fields, moves rows in and out as
// CSV, runs single statements through the database layer exactly as the program would, encrypts
// free tables and produces stored ciphertexts for passwords.
//
//   peltorn db create-main DIR
//   peltorn db create-company PATH [--version-mark MARK]
//   peltorn db tables PATH
//   peltorn db fields PATH TABLE
//   peltorn db export PATH TABLE [--output FILE]
//   peltorn db import PATH TABLE FILE          (FILE "-" reads standard input)
//   peltorn db sql PATH STATEMENT [--param NAME=VALUE ...] [--output FILE]
//   peltorn db encrypt PATH TABLE
//   peltorn db is-encrypted PATH [TABLE]       (a data dictionary as a whole without TABLE)
//   peltorn db secure-dictionary PATH --user U --password P [--user-password NAME=PASSWORD ...]
//   peltorn db cipher-password TEXT KEY
// Every subcommand takes --user/--password (data dictionaries; user "ADSSYS" by default) and
// --table-password (encrypted free tables; given to tables and statements alike). A subcommand
// that opens a plain (unencrypted) data dictionary says so on standard error.
//
// Exports to a file (--output) are written readable by their owner only (mode 0600), under a
// temporary name that becomes FILE only when every row is written.
//
// A failure prints one line "error: <text>" on standard error and exits 1, and leaves the
// databases as they were. Import checks the whole file before it writes a row, then writes every
// row in one transaction that is committed after the last: a row the database refuses, Ctrl-C
// (SIGINT) or SIGTERM take back every row written so far, and an import killed outright leaves
// none of its rows either. Interrupted, it prints its error line and then ends by the signal.
#include "cli/Commands.h"
#include "cli/DbCsv.h"

#include "db/Db.h"
#include "schema/MakeDatabases.h"
#include "signon/Credentials.h"
#include "signon/DB_UTIL.h"
#include "signon/EncryptionUtils.h"
#include "signon/PasswordUTIL.h"
#include "support/PrivateFiles.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace peltorn::cli {

namespace {

struct TDbOptions {
    std::string Path;
    std::string Table;
    std::string User = signon::kAdminUser;
    std::string Password;
    std::string TablePassword;
    std::string File;
    std::string Statement;
    std::vector<std::string> Params;
    std::string VersionMark = schema::kDefaultVersionMark;
    std::string Text;
    std::string Key;
    std::string Output;
    std::vector<std::string> UserPasswords;
};

std::string Upper(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

// A command stopped by SIGINT or SIGTERM after it undid its work.
class EInterrupted : public std::runtime_error {
public:
    EInterrupted(const std::string& message, int signal)
        : std::runtime_error(message), Signal(signal) {}
    int Signal;
};

// Runs body; any failure becomes one line "error: <text>" and exit code 1. An interrupted
// command then ends by its signal, so that a shell or script running it stops as well.
void RunGuarded(int& exitCode, const std::function<void()>& body) {
    try {
        body();
        std::cout.flush();
        exitCode = 0;
    } catch (const std::exception& e) {
        std::string text = e.what();
        std::replace(text.begin(), text.end(), '\n', ' ');
        std::replace(text.begin(), text.end(), '\r', ' ');
        std::cout.flush();
        std::cerr << "error: " << text << std::endl;
        exitCode = 1;
        if (const auto* interrupted = dynamic_cast<const EInterrupted*>(&e)) {
            std::signal(interrupted->Signal, SIG_DFL);
            std::raise(interrupted->Signal);
        }
    }
}

// SIGINT and SIGTERM while an import runs. The handler only notes the signal; the import looks
// at it between rows and before its commit, and takes its rows back before it ends.
volatile std::sig_atomic_t g_stopSignal = 0;

void NoteStopSignal(int signal) { g_stopSignal = signal; }

class TStopSignals {
public:
    TStopSignals() {
        g_stopSignal = 0;
        struct sigaction action {};
        action.sa_handler = NoteStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, &m_oldInt);
        sigaction(SIGTERM, &action, &m_oldTerm);
    }
    ~TStopSignals() {
        sigaction(SIGINT, &m_oldInt, nullptr);
        sigaction(SIGTERM, &m_oldTerm, nullptr);
    }
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    // Raises EInterrupted "import of T interrupted by SIGINT <where>; nothing was imported" once
    // a signal came.
    void Check(const std::string& table, const std::string& where) const {
        const int signal = g_stopSignal;
        if (signal == 0) return;
        throw EInterrupted("import of " + table + " interrupted by " +
                               (signal == SIGINT ? "SIGINT" : "SIGTERM") + " " + where +
                               "; nothing was imported",
                           signal);
    }

private:
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
};

// The note on standard error for a data dictionary that is a plain file.
std::string PlainDictionaryNote(const std::string& path) {
    return "note: the data dictionary " + path +
           " is not encrypted: anybody who can read the file can read its rows "
           "(peltorn db secure-dictionary encrypts it)";
}

// Connects conn to the database at path with the credentials of the options.
void Connect(db::TDbConnection& conn, const TDbOptions& o) {
    conn.SetConnectPath(o.Path);
    if (conn.IsDictionaryConn()) {
        conn.Username = o.User;
        conn.Password = o.Password;
    }
    conn.Connect();
    if (conn.IsDictionaryConn() && !conn.IsEncryptedDictionary())
        std::cerr << PlainDictionaryNote(o.Path) << std::endl;
}

// Where a command's rows go: standard output, or the file of --output, which is made readable by
// its owner only and written under a temporary name; Commit puts it in place. Without Commit
// (a failure) the temporary file is removed and FILE is left as it was.
class TOutput {
public:
    explicit TOutput(const std::string& file) : m_file(file) {
        if (m_file.empty()) return;
        m_tmp = m_file + ".writing";
        support::CreatePrivateFile(m_tmp);
        m_stream.open(m_tmp, std::ios::binary | std::ios::trunc);
        if (!m_stream) throw std::runtime_error("cannot write " + m_tmp);
    }
    ~TOutput() {
        if (m_tmp.empty()) return;
        std::error_code ec;
        std::filesystem::remove(m_tmp, ec);
    }
    TOutput(const TOutput&) = delete;
    TOutput& operator=(const TOutput&) = delete;
    std::ostream& Stream() { return m_file.empty() ? std::cout : m_stream; }
    void Commit() {
        if (m_file.empty()) return;
        m_stream.flush();
        m_stream.close();
        if (m_stream.fail()) throw std::runtime_error("cannot write " + m_file);
        std::error_code ec;
        std::filesystem::rename(m_tmp, m_file, ec);
        if (ec) throw std::runtime_error("cannot write " + m_file + ": " + ec.message());
        m_tmp.clear();
    }

private:
    std::string m_file;
    std::string m_tmp;
    std::ofstream m_stream;
};

// Opens the table of the options in natural order, with the table password when one is given.
void OpenTable(db::TDbTable& table, db::TDbConnection& conn, const TDbOptions& o) {
    table.SetConnection(&conn);
    table.SetTableName(o.Table);
    table.EncryptionPassword = o.TablePassword;
    table.Open();
}

std::vector<std::string> FieldTexts(db::TDataSet& ds) {
    std::vector<std::string> cells;
    for (int i = 0; i < ds.FieldCount(); ++i) cells.push_back(FieldText(ds.Fields(i)));
    return cells;
}

std::vector<std::string> FieldNames(db::TDataSet& ds) {
    std::vector<std::string> names;
    for (int i = 0; i < ds.FieldCount(); ++i) names.push_back(ds.Fields(i).FieldName());
    return names;
}

// Writes every row of an open dataset as CSV with a header. The first row is read before the
// header is written, so that a refused read (an encrypted table without its password) prints
// nothing on standard output.
void WriteCsv(db::TDataSet& ds, std::ostream& out = std::cout) {
    ds.First();
    std::ostringstream head;
    WriteCsvRow(head, FieldNames(ds));
    std::vector<std::string> first;
    if (!ds.Eof()) first = FieldTexts(ds);
    out << head.str();
    if (ds.Eof()) return;
    WriteCsvRow(out, first);
    for (ds.Next(); !ds.Eof(); ds.Next()) WriteCsvRow(out, FieldTexts(ds));
}

// ---- the subcommands ----

void DoTables(const TDbOptions& o) {
    db::TDbConnection conn("db");
    Connect(conn, o);
    for (const auto& name : db::ListTables(conn)) std::cout << name << '\n';
}

void DoFields(const TDbOptions& o) {
    db::TDbConnection conn("db");
    Connect(conn, o);
    db::TTableDef def = db::ReadTableDef(conn, o.Table, o.TablePassword);
    for (const auto& f : def.Fields)
        std::cout << f.Name << ' ' << db::FieldTypeName(f.Type) << ' ' << f.Size << '\n';
    for (const auto& idx : def.Indexes) {
        std::string fields;
        for (const auto& f : idx.Fields) fields += (fields.empty() ? "" : ";") + f;
        std::cout << "INDEX " << idx.Name << ' ' << fields << (idx.Unique ? " UNIQUE" : "") << '\n';
    }
}

void DoExport(const TDbOptions& o) {
    db::TDbConnection conn("db");
    Connect(conn, o);
    db::TDbTable table("export");
    OpenTable(table, conn, o);
    TOutput out(o.Output);
    WriteCsv(table, out.Stream());
    out.Commit();
}

std::string ReadInput(const std::string& file) {
    std::ostringstream text;
    if (file == "-") {
        text << std::cin.rdbuf();
        return text.str();
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + file);
    text << in.rdbuf();
    return text.str();
}

void DoImport(const TDbOptions& o) {
    std::vector<TCsvRow> rows = ParseCsv(ReadInput(o.File));
    // From here on a signal is noted rather than obeyed at once (reading the input, nothing is
    // written yet, and a terminal's Ctrl-C must still end a read of standard input).
    TStopSignals signals;
    if (rows.empty()) throw std::runtime_error(o.File + " is empty: a header row is expected");
    for (const TCsvRow& row : rows) {
        if (row.Blank) {
            throw std::runtime_error("row " + std::to_string(row.Row) +
                                     " is a blank line: only the end of the file may have blank "
                                     "lines; nothing was imported");
        }
    }

    db::TDbConnection conn("db");
    Connect(conn, o);
    db::TDbTable table("import");
    OpenTable(table, conn, o);
    const db::TTableDef& def = table.TableDef();

    // The header: every column must name a field of the table, once.
    const TCsvRow& header = rows.front();
    std::vector<const db::TFieldDef*> columns;
    for (const auto& name : header.Cells) {
        const db::TFieldDef* field = def.FindField(name);
        if (!field) {
            throw std::runtime_error("row 1, column '" + name + "': table " + o.Table +
                                     " has no such field; nothing was imported");
        }
        if (std::find(columns.begin(), columns.end(), field) != columns.end()) {
            throw std::runtime_error("row 1, column '" + name +
                                     "': the column is named twice; nothing was imported");
        }
        columns.push_back(field);
    }

    // Check every row before anything is written.
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const TCsvRow& row = rows[r];
        signals.Check(o.Table, "at row " + std::to_string(row.Row));
        if (row.Cells.size() != columns.size()) {
            throw std::runtime_error("row " + std::to_string(row.Row) + " has " +
                                     std::to_string(row.Cells.size()) + " cells, the header " +
                                     std::to_string(columns.size()) + "; nothing was imported");
        }
        for (std::size_t c = 0; c < columns.size(); ++c) {
            try {
                AssignFieldText(*columns[c], row.Cells[c], nullptr);
            } catch (const std::runtime_error& e) {
                throw std::runtime_error("row " + std::to_string(row.Row) + ", column " +
                                         columns[c]->Name + ": " + e.what() +
                                         "; nothing was imported");
            }
        }
    }

    // Write, in one batch that is committed after the last row. Whatever ends the import before
    // (a row the database refuses, a signal) leaves the batch uncommitted, and its end takes
    // every row back.
    int added = 0;
    {
        db::TWriteBatch batch;
        for (std::size_t r = 1; r < rows.size(); ++r) {
            signals.Check(o.Table, "at row " + std::to_string(rows[r].Row));
            try {
                table.Append();
                for (std::size_t c = 0; c < columns.size(); ++c)
                    AssignFieldText(*columns[c], rows[r].Cells[c],
                                    &table.FieldByName(columns[c]->Name));
                table.Post();
            } catch (const std::exception& e) {
                if (table.State() != db::TDataSetState::dsBrowse) table.Cancel();
                throw std::runtime_error("row " + std::to_string(rows[r].Row) + ": " + e.what() +
                                         "; nothing was imported");
            }
            ++added;
        }
        signals.Check(o.Table, "before its rows were committed");
        try {
            batch.Commit();
        } catch (const std::exception& e) {
            throw std::runtime_error(std::string(e.what()) + "; nothing was imported");
        }
    }
    table.Close();
    std::cout << added << " rows imported\n";
}

// The statement's first word after blanks and opening brackets.
bool IsSelect(const std::string& statement) {
    std::size_t i = statement.find_first_not_of(" \t\r\n(");
    if (i == std::string::npos) return false;
    std::size_t j = i;
    while (j < statement.size() && std::isalpha(static_cast<unsigned char>(statement[j]))) ++j;
    return Upper(statement.substr(i, j - i)) == "SELECT";
}

void DoSql(const TDbOptions& o) {
    db::TDbConnection conn("db");
    Connect(conn, o);
    db::TDbQuery query("sql");
    query.SetConnection(&conn);
    query.SQL().Add(o.Statement);
    if (!o.TablePassword.empty() && !conn.IsDictionaryConn())
        query.EnableEncryption(o.TablePassword);
    for (const auto& p : o.Params) {
        auto eq = p.find('=');
        if (eq == std::string::npos || eq == 0)
            throw std::runtime_error("--param " + p + ": expected NAME=VALUE");
        query.ParamByName(p.substr(0, eq)).SetAsString(p.substr(eq + 1));
    }
    if (IsSelect(o.Statement)) {
        query.Open();
        TOutput out(o.Output);
        WriteCsv(query, out.Stream());
        out.Commit();
        query.Close();
    } else {
        query.ExecSQL();
        std::cout << query.RowsAffected() << '\n';
    }
}

void DoEncrypt(const TDbOptions& o) {
    if (o.TablePassword.empty())
        throw std::runtime_error("encrypting table " + o.Table + " needs --table-password");
    db::TDbConnection conn("db");
    Connect(conn, o);
    if (conn.IsDictionaryConn()) {
        throw std::runtime_error("table " + o.Table + " belongs to the data dictionary " + o.Path +
                                 ": only free tables are encrypted");
    }
    db::TDbTable table("encrypt");
    table.SetConnection(&conn);
    table.SetTableName(o.Table);
    table.Open();
    if (table.IsTableEncrypted())
        throw std::runtime_error("table " + o.Table + " is encrypted already");
    table.EnableEncryption(o.TablePassword);
    table.EncryptTable();
    table.Close();
}

void DoIsEncrypted(const TDbOptions& o) {
    db::TDbConnection conn("db");
    conn.SetConnectPath(o.Path);
    if (conn.IsDictionaryConn() && o.Table.empty()) {
        // The dictionary as a whole; no password is needed to tell.
        std::error_code ec;
        if (!std::filesystem::is_regular_file(db::NormalizePath(o.Path), ec))
            throw std::runtime_error("Data dictionary not found: " + o.Path);
        std::cout << (db::IsEncryptedDictionary(o.Path) ? "yes" : "no") << '\n';
        return;
    }
    if (o.Table.empty())
        throw std::runtime_error("is-encrypted needs TABLE for a folder of free tables");
    Connect(conn, o);
    if (conn.IsDictionaryConn()) {
        // A dictionary's tables are encrypted with the dictionary.
        std::cout << (conn.IsEncryptedDictionary() ? "yes" : "no") << '\n';
        return;
    }
    db::TDbTable table("encrypted");
    table.SetConnection(&conn);
    table.SetTableName(o.Table);
    table.Open();
    std::cout << (table.IsTableEncrypted() ? "yes" : "no") << '\n';
}

// A test hook: with PELTORN_TEST_HOOK_STOP_AT naming a step of secure-dictionary, the process
// stops itself (SIGSTOP) when it reaches that step, so that a test can kill it there.
void StopAtTestHook(const char* step) {
    const char* wanted = std::getenv("PELTORN_TEST_HOOK_STOP_AT");
    if (wanted && std::string(wanted) == step) std::raise(SIGSTOP);
}

void DoSecureDictionary(const TDbOptions& o) {
    // The other users of an installation's dictionary are the system's own, with the passwords
    // the sign-on gives them; further ones are named with --user-password.
    std::vector<db::TDictionaryUser> others = {
        {signon::kMaintenanceUser, signon::MaintenancePassword()},
        {signon::kAdminUser, signon::AdminPasswordForMark("@2019")},
        {signon::kAdminUser, signon::AdminPasswordForMark("@2018")}};
    for (const auto& p : o.UserPasswords) {
        auto eq = p.find('=');
        if (eq == std::string::npos || eq == 0)
            throw std::runtime_error("--user-password " + p + ": expected NAME=PASSWORD");
        others.insert(others.begin(), {p.substr(0, eq), p.substr(eq + 1)});
    }
    db::TSecuredDictionary done =
        db::SecureDictionary(o.Path, o.User, o.Password, others, StopAtTestHook);
    std::int64_t rows = 0;
    for (const auto& t : done.Tables) rows += t.second;
    std::string users;
    for (const auto& u : done.Users) users += (users.empty() ? "" : ", ") + u;
    std::cout << o.Path << " encrypted: " << done.Tables.size() << " tables, " << rows
              << " rows; users " << users << '\n';
}

// ---- registration ----

void AddCredentials(CLI::App* cmd, TDbOptions& o) {
    cmd->add_option("--user", o.User, "user name for a data dictionary (default ADSSYS)");
    cmd->add_option("--password", o.Password, "password for a data dictionary");
    cmd->add_option("--table-password", o.TablePassword, "password of encrypted free tables");
}

CLI::App* AddCommand(CLI::App* db, const char* name, const char* help, TDbOptions& o, int& exitCode,
                     void (*body)(const TDbOptions&)) {
    auto* cmd = db->add_subcommand(name, help);
    AddCredentials(cmd, o);
    cmd->callback([&exitCode, &o, body] { RunGuarded(exitCode, [&] { body(o); }); });
    return cmd;
}

// Wrong usage of a db subcommand prints the error and that subcommand's usage text; wrong usage
// elsewhere keeps the tool's usual short message.
void UseDbUsageText(CLI::App& app) {
    app.failure_message([](const CLI::App* root, const CLI::Error& e) -> std::string {
        const CLI::App* deepest = root;
        bool inDb = false;
        for (;;) {
            auto subs = deepest->get_subcommands();
            if (subs.empty()) break;
            deepest = subs.front();
            if (deepest->get_parent() == root && deepest->get_name() == "db") inDb = true;
        }
        if (!inDb) return CLI::FailureMessage::simple(root, e);
        // The subcommand's help names only the subcommand; show the whole command line.
        std::string usage = deepest->help();
        std::string fullName;
        for (const CLI::App* a = deepest; a; a = a->get_parent())
            fullName = a->get_name() + (fullName.empty() ? "" : " ") + fullName;
        const std::string shortUsage = "Usage: " + deepest->get_name();
        if (deepest != root && usage.find(shortUsage) != std::string::npos)
            usage.replace(usage.find(shortUsage), shortUsage.size(), "Usage: " + fullName);
        return std::string(e.what()) + "\n" + usage;
    });
}

}  // namespace

void RegisterDbCommands(CLI::App& app, int& exitCode) {
    UseDbUsageText(app);
    // The options live as long as the application; only one subcommand runs.
    static TDbOptions o;
    auto* db = app.add_subcommand("db", "create and inspect the installation's databases");
    db->require_subcommand(1);

    auto* cmd =
        AddCommand(db, "create-main", "create the main database (MCOMPANY, MERGRHD, MERGEDTL)", o,
                   exitCode, [](const TDbOptions& opt) { schema::CreateMainDatabase(opt.Path); });
    cmd->add_option("DIR", o.Path, "folder of the main database")->required();

    cmd = AddCommand(
        db, "create-company", "create an empty company database", o, exitCode,
        [](const TDbOptions& opt) { schema::CreateCompanyDatabase(opt.Path, opt.VersionMark); });
    cmd->add_option("PATH", o.Path, "folder of free tables, or a .ADD file")->required();
    cmd->add_option("--version-mark", o.VersionMark, "PAYPARA.DBVERSION of the new database");

    cmd = AddCommand(db, "tables", "list the tables", o, exitCode, DoTables);
    cmd->add_option("PATH", o.Path, "database")->required();

    cmd = AddCommand(db, "fields", "list a table's fields and indexes", o, exitCode, DoFields);
    cmd->add_option("PATH", o.Path, "database")->required();
    cmd->add_option("TABLE", o.Table, "table")->required();

    cmd =
        AddCommand(db, "export", "write a table as CSV to standard output", o, exitCode, DoExport);
    cmd->add_option("PATH", o.Path, "database")->required();
    cmd->add_option("TABLE", o.Table, "table")->required();
    cmd->add_option("--output", o.Output, "write to FILE instead (readable by its owner only)");

    cmd =
        AddCommand(db, "import", "append the rows of a CSV file to a table", o, exitCode, DoImport);
    cmd->add_option("PATH", o.Path, "database")->required();
    cmd->add_option("TABLE", o.Table, "table")->required();
    cmd->add_option("FILE", o.File, "CSV file with a header row (- for standard input)")
        ->required();

    cmd = AddCommand(db, "sql", "run one statement; a SELECT prints CSV", o, exitCode, DoSql);
    cmd->add_option("PATH", o.Path, "database")->required();
    cmd->add_option("STATEMENT", o.Statement, "the statement")->required();
    cmd->add_option("--param", o.Params, "a statement parameter, NAME=VALUE (repeatable)");
    cmd->add_option("--output", o.Output,
                    "write a SELECT's rows to FILE instead (readable by its owner only)");

    cmd = AddCommand(db, "encrypt", "encrypt a free table with --table-password", o, exitCode,
                     DoEncrypt);
    cmd->add_option("PATH", o.Path, "folder of free tables")->required();
    cmd->add_option("TABLE", o.Table, "table")->required();

    cmd = AddCommand(db, "is-encrypted",
                     "print yes when the table (or the data dictionary) is encrypted, else no", o,
                     exitCode, DoIsEncrypted);
    cmd->add_option("PATH", o.Path, "database")->required();
    cmd->add_option("TABLE", o.Table, "table (optional for a data dictionary)");

    cmd = AddCommand(db, "secure-dictionary",
                     "encrypt a plain data dictionary in place, for all of its users", o, exitCode,
                     DoSecureDictionary);
    cmd->add_option("PATH", o.Path, "the .ADD file")->required();
    cmd->add_option("--user-password", o.UserPasswords,
                    "the password of another user of the dictionary, NAME=PASSWORD (repeatable)");

    cmd = AddCommand(db, "cipher-password", "print the stored ciphertext of a password", o,
                     exitCode, [](const TDbOptions& opt) {
                         std::cout << signon::EncryptHexString(opt.Text, opt.Key) << '\n';
                     });
    cmd->add_option("TEXT", o.Text, "the password")->required();
    cmd->add_option("KEY", o.Key, "the key text")->required();
}

}  // namespace peltorn::cli
