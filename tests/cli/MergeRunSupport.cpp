#include "MergeRunSupport.h"

#include "TestSupport.h"
#include "db/Db.h"
#include "db/DictionaryKeys.h"
#include "db/Sqlite.h"
#include "demo/Demo.h"
#include "schema/MakeDatabases.h"
#include "signon/Credentials.h"
#include "signon/DB_UTIL.h"

#include <gtest/gtest.h>

#ifndef SQLITE_HAS_CODEC
#define SQLITE_HAS_CODEC  // sqlite3_key, for reading encrypted tables in the check
#endif
#include <sqlcipher/sqlite3.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace peltorn::test {

void WriteDemo(const std::string& dir) {
    demo::TDemoOptions options;
    options.Companies = 3;
    options.Employees = 6;
    options.Year = 2026;
    options.Month = 3;
    demo::WriteDemoInstallation(dir, options);
}

std::string Ini(const std::string& dir, bool dictionary) {
    return dictionary ? dir + "/dictionary-layout/ORVEX.ini" : dir + "/ORVEX.ini";
}

std::vector<std::string> Destinations(const std::string& dir, bool dictionary) {
    std::vector<std::string> out;
    fs::path companies =
        dictionary ? fs::path(dir) / "dictionary-layout" / "COMPANY" : fs::path(dir) / "COMPANY";
    for (const auto& entry : fs::directory_iterator(companies)) {
        std::string code = entry.path().filename().string();
        if (code.empty() || code[0] != '#') continue;
        out.push_back(dictionary ? (entry.path() / (code + ".ADD")).string()
                                 : entry.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

void Connect(db::TDbConnection& conn, const std::string& path) {
    conn.SetConnectPath(path);
    conn.Username = signon::kAdminUser;
    conn.Password = signon::AdminPasswordForMark(std::string(schema::kDefaultVersionMark));
    conn.Connect();
}

std::string Census(const std::string& path) {
    db::TDbConnection conn("census");
    Connect(conn, path);
    std::ostringstream out;
    for (const auto& table : db::ListTables(conn)) {
        db::TDbTable t("census");
        t.SetConnection(&conn);
        t.SetTableName(table);
        t.Open();
        if (!conn.IsDictionaryConn() && t.IsTableEncrypted())
            t.EnableEncryption(signon::kFreeTablePassword);
        std::vector<std::string> lines;
        for (t.First(); !t.Eof(); t.Next()) {
            std::string line;
            for (int i = 0; i < t.FieldCount(); ++i) line += t.Fields(i).AsString() + "|";
            lines.push_back(line);
        }
        std::sort(lines.begin(), lines.end());
        out << "[" << table << "] " << lines.size() << "\n";
        for (const auto& l : lines) out << l << "\n";
        t.Close();
    }
    conn.Disconnect();
    return out.str();
}

std::string CensusOfAll(const std::string& dir, bool dictionary) {
    std::string all;
    for (const auto& d : Destinations(dir, dictionary))
        all += "== " + fs::path(d).filename().string() + "\n" + Census(d);
    return all;
}

std::string FirstDifference(const std::string& actual, const std::string& expected) {
    std::istringstream a(actual), e(expected);
    std::string la, le, table;
    while (true) {
        bool moreA = static_cast<bool>(std::getline(a, la));
        bool moreE = static_cast<bool>(std::getline(e, le));
        if (!moreA && !moreE) return {};
        if (!moreA || !moreE || la != le)
            return "in " + table + ": got \"" + (moreA ? la : "<end>") + "\", expected \"" +
                   (moreE ? le : "<end>") + "\"";
        if (!le.empty() && (le[0] == '[' || le[0] == '=')) table = le;
    }
}

int Shell(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string MergeCommand(const std::string& dir, bool dictionary) {
    return Quote(PELTORN_CLI_PATH) + " merge --ini " + Quote(Ini(dir, dictionary)) + " --period " +
           kPeriod;
}

void ExpectSoundFiles(const std::string& dir, bool dictionary) {
    std::vector<std::string> files;
    for (const auto& d : Destinations(dir, dictionary)) {
        if (dictionary) {
            files.push_back(d);
            continue;
        }
        for (const auto& e : fs::directory_iterator(d))
            if (e.path().extension() == ".ADT") files.push_back(e.path().string());
    }
    ASSERT_FALSE(files.empty());
    for (const auto& file : files) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        if (!db::detail::IsPlainDatabaseFile(file)) {
            // An encrypted dictionary has a key of its own; a free table the table password's.
            const std::string key = dictionary
                                        ? db::detail::UnlockDictionary(
                                              file, file, signon::kAdminUser,
                                              signon::AdminPasswordForMark(std::string("@2019")))
                                              .RawKey()
                                        : db::detail::RawKeyFor(signon::kFreeTablePassword);
            sqlite3_key(db, key.data(), static_cast<int>(key.size()));
        }
        sqlite3_stmt* s = nullptr;
        std::string result = "no answer";
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW)
            result = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        sqlite3_finalize(s);
        sqlite3_close(db);
        EXPECT_EQ(result, "ok") << file;
    }
}

std::function<void(pid_t, int)> SendSignal(int signal) {
    return [signal](pid_t child, int) { ::kill(child, signal); };
}

std::function<void(pid_t, int)> TypeOnTerminal(std::string keys) {
    return [keys](pid_t, int terminal) {
        if (terminal >= 0) (void)!::write(terminal, keys.data(), keys.size());
    };
}

namespace {

[[noreturn]] void ExecPeltorn(const std::vector<std::string>& args, const TRunSetup& setup) {
    for (const auto& [name, value] : setup.Env) {
        if (value.empty())
            ::unsetenv(name.c_str());
        else
            ::setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(PELTORN_CLI_PATH));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(PELTORN_CLI_PATH, argv.data());
    ::_exit(127);
}

}  // namespace

TWatchedRun RunWatched(const std::vector<std::string>& args, const TRunSetup& setup,
                       const std::vector<TStep>& steps) {
    TWatchedRun run;
    int out[2] = {-1, -1}, err[2] = {-1, -1};
    if (::pipe(out) != 0) return run;
    if (!setup.Terminal && ::pipe(err) != 0) return run;
    int terminal = -1;
    pid_t pid;
    if (setup.Terminal) {
        struct winsize size {};
        size.ws_col = static_cast<unsigned short>(setup.Columns);
        size.ws_row = 24;
        pid = ::forkpty(&terminal, nullptr, nullptr, &size);
        if (pid == 0) {
            if (!setup.OutputOnTerminal) ::dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            ExecPeltorn(args, setup);
        }
    } else {
        pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            for (int fd : {out[0], out[1], err[0], err[1]}) ::close(fd);
            const int null = ::open("/dev/null", O_RDONLY);
            ::dup2(null, 0);
            ExecPeltorn(args, setup);
        }
    }
    ::close(out[1]);
    if (err[1] >= 0) ::close(err[1]);
    if (pid < 0) return run;

    // The streams read: standard output, then standard error or the terminal.
    struct TStream {
        int Fd;
        std::string* Text;
        std::size_t From = 0;  // where the current step's marker is looked for
    };
    std::vector<TStream> streams;
    if (!setup.Terminal || !setup.OutputOnTerminal)
        streams.push_back({out[0], &run.Out});
    else
        ::close(out[0]);
    streams.push_back(
        {setup.Terminal ? terminal : err[0], setup.Terminal ? &run.Terminal : &run.Err});

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(setup.TimeoutSeconds);
    std::size_t open = streams.size();
    while (open > 0) {
        std::vector<pollfd> fds;
        for (const auto& s : streams) fds.push_back({s.Fd, POLLIN, 0});
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 && !run.TimedOut) {
            run.TimedOut = true;
            ::kill(pid, SIGKILL);
        }
        ::poll(fds.data(), fds.size(), run.TimedOut ? 1000 : static_cast<int>(left));
        for (std::size_t i = 0; i < streams.size(); ++i) {
            if (streams[i].Fd < 0 || fds[i].revents == 0) continue;
            char buf[4096];
            const ssize_t n = ::read(streams[i].Fd, buf, sizeof buf);
            if (n <= 0) {  // end of the pipe; EIO on the terminal once the child has gone
                ::close(streams[i].Fd);
                streams[i].Fd = -1;
                --open;
                continue;
            }
            streams[i].Text->append(buf, static_cast<std::size_t>(n));
        }
        while (run.StepsDone < steps.size()) {
            const TStep& step = steps[run.StepsDone];
            bool seen = false;
            for (auto& s : streams)
                seen = seen || s.Text->find(step.Marker, s.From) != std::string::npos;
            if (!seen) break;
            for (auto& s : streams) s.From = s.Text->size();
            step.Act(pid, terminal);
            ++run.StepsDone;
        }
        streams.erase(std::remove_if(streams.begin(), streams.end(),
                                     [](const TStream& s) { return s.Fd < 0; }),
                      streams.end());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

std::string LastLine(const std::string& text) {
    std::string trimmed = text;
    while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == '\r'))
        trimmed.pop_back();
    const auto pos = trimmed.find_last_of('\n');
    return pos == std::string::npos ? trimmed : trimmed.substr(pos + 1);
}

}  // namespace peltorn::test
