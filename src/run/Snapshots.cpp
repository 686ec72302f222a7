// Snapshots of destinations, their restore, the interrupted-run marker and the preview's scratch
// copies. The copies are made of closed files: the run disconnects its connections first, every
// file is checked not to be open in the storage engine of this process, and every table of the
// database is held against other users while its files are read or written back. A database
// file is never closed, replaced or written under an open engine handle.
#include "run/Snapshots.h"

#include "db/DbFiles.h"
#include "run/MergeRun.h"
#include "run/RunTexts.h"
#include "support/PrivateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace peltorn::run {

namespace fs = std::filesystem;

namespace {

constexpr const char* kWalSuffix = "-wal";
constexpr const char* kShmSuffix = "-shm";
// Bytes per copy call; between two calls the windows process their messages.
constexpr std::size_t kChunk = 1 << 20;
// Data written between two syncs, so that no single sync holds the windows for long.
constexpr std::uint64_t kSyncEvery = 16ull << 20;

std::string Norm(const std::string& path) { return db::NormalizePath(path); }

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

[[noreturn]] void Fail(const std::string& what, int error) {
    throw std::runtime_error(what + ": " + std::strerror(error));
}

class TFd {
public:
    explicit TFd(int fd) : m_fd(fd) {}
    ~TFd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return m_fd; }
    // Closes now, reporting a failure (a write the file system could not complete).
    void Close(const std::string& what) {
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0) Fail(what, errno);
    }

private:
    int m_fd;
};

// Runs work (a sync, which may wait long for the disk when other programs write too) on a
// thread of its own and lets the windows process their messages every 10 ms meanwhile; raises
// what work raised, or what tick did (after work has ended: nothing is left running).
void WhileTicking(const std::function<void()>& work, const std::function<void()>& tick) {
    if (!tick) {
        work();
        return;
    }
    std::exception_ptr failure;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
    });
    std::exception_ptr tickFailure;
    while (!done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (done || tickFailure) continue;
        try {
            tick();
        } catch (...) {
            tickFailure = std::current_exception();
        }
    }
    worker.join();
    if (failure) std::rethrow_exception(failure);
    if (tickFailure) std::rethrow_exception(tickFailure);
}

void SyncFolder(const std::string& folder) {
    TFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() < 0) Fail("Cannot open the folder " + folder, errno);
    if (::fsync(fd.Get()) != 0) Fail("Cannot sync the folder " + folder, errno);
}

// Everything written to the file system of folder reaches the disk: one sync for all the files of
// a snapshot or a restore, instead of one per file (each of which waits for a journal commit).
void SyncFileSystem(const std::string& folder) {
    TFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() < 0) Fail("Cannot open the folder " + folder, errno);
    if (::syncfs(fd.Get()) != 0) Fail("Cannot sync the files in " + folder, errno);
}

// How a copy treats its target: a new private file (a snapshot, a scratch copy), or the file of a
// database written back in place, so that it keeps its inode, its mode and every hold on it.
enum class TTarget { NewPrivate, InPlace };

// Copies the bytes of from into to; returns their count. A large file is synced as it goes, so
// that the sync that ends a snapshot or a restore (SyncFileSystem) never has much to write.
std::uint64_t CopyBytes(const std::string& from, const std::string& to, TTarget target,
                        const std::function<void()>& tick) {
    TFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0) Fail("Cannot read " + from, errno);
    if (target == TTarget::NewPrivate) support::CreatePrivateFile(to);
    // A file the database no longer has is made as the engine makes its files.
    TFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (out.Get() < 0) Fail("Cannot write " + to, errno);
    std::uint64_t total = 0, unsynced = 0;
    std::vector<char> buffer;
    bool kernelCopy = true;
    while (true) {
        ssize_t n = -1;
        if (kernelCopy) {
            n = ::copy_file_range(in.Get(), nullptr, out.Get(), nullptr, kChunk, 0);
            if (n < 0 &&
                (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                kernelCopy = false;
                continue;
            }
        } else {
            if (buffer.empty()) buffer.resize(kChunk);
            n = ::read(in.Get(), buffer.data(), buffer.size());
            for (ssize_t done = 0; n > 0 && done < n;) {
                const ssize_t w =
                    ::write(out.Get(), buffer.data() + done, static_cast<std::size_t>(n - done));
                if (w < 0) {
                    if (errno == EINTR) continue;
                    Fail("Cannot write " + to, errno);
                }
                done += w;
            }
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail("Cannot copy " + from + " to " + to, errno);
        }
        if (n == 0) break;
        total += static_cast<std::uint64_t>(n);
        unsynced += static_cast<std::uint64_t>(n);
        if (unsynced >= kSyncEvery) {
            WhileTicking(
                [&] {
                    if (::fdatasync(out.Get()) != 0) Fail("Cannot sync " + to, errno);
                },
                tick);
            unsynced = 0;
        }
        if (tick) tick();
    }
    out.Close("Cannot write " + to);
    return total;
}

// The files that make up a database, as (path, name) pairs: a folder of free tables has every
// regular file of the folder but the engine's shared-memory files (made again from the file and
// its journal); a dictionary has its .ADD file, its journal and its key file where they exist.
std::vector<std::pair<std::string, std::string>> DatabaseFiles(const std::string& database) {
    const std::string path = Norm(database);
    std::vector<std::pair<std::string, std::string>> files;
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) {
        const std::string name = fs::path(path).filename().string();
        for (const std::string suffix : {"", kWalSuffix, db::kDictionaryKeysSuffix}) {
            if (fs::is_regular_file(path + suffix, ec))
                files.push_back({path + suffix, name + suffix});
        }
        return files;
    }
    if (!fs::is_directory(path, ec))
        throw std::runtime_error("The database " + database + " does not exist");
    for (const auto& entry : fs::directory_iterator(path, ec)) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file(ec) || EndsWith(name, kShmSuffix)) continue;
        files.push_back({entry.path().string(), name});
    }
    if (ec) Fail("Cannot read the folder " + database, ec.value());
    std::sort(files.begin(), files.end());
    return files;
}

void RefuseEngineOpen(const std::vector<std::pair<std::string, std::string>>& files,
                      const std::string& what) {
    for (const auto& [path, name] : files) {
        if (db::IsOpenByEngine(path))
            throw std::logic_error(what + ": " + path + " is still open in this program");
    }
}

// The folder of a destination's snapshots: its code, without what a folder name cannot hold.
std::string CodeFolder(const std::string& code) {
    std::string name = code;
    for (char& c : name)
        if (c == '/' || c == '\\' || c == '\0') c = '_';
    if (name.empty() || name == "." || name == "..") name = "_" + name;
    return name;
}

std::string LocalTime(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

void WriteTextFile(const std::string& path, const std::string& text, bool sync) {
    support::CreatePrivateFile(path);
    TFd fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (fd.Get() < 0) Fail("Cannot write " + path, errno);
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t w = ::write(fd.Get(), text.data() + done, text.size() - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            Fail("Cannot write " + path, errno);
        }
        done += static_cast<std::size_t>(w);
    }
    if (sync && ::fsync(fd.Get()) != 0) Fail("Cannot sync " + path, errno);
    fd.Close("Cannot write " + path);
}

void WriteManifest(const TSnapshot& s) {
    std::ostringstream out;
    out << "destination=" << s.Code << "\n"
        << "database=" << s.Database << "\n"
        << "taken=" << s.Taken << "\n"
        << "bytes=" << s.Bytes << "\n"
        << "seconds=" << s.Seconds << "\n";
    for (const auto& [name, size] : s.Files) out << "file=" << size << " " << name << "\n";
    WriteTextFile((fs::path(s.Folder) / kSnapshotManifest).string(), out.str(), false);
}

TSnapshot ReadSnapshot(const fs::path& folder, const std::string& codeFolder) {
    TSnapshot s;
    s.Code = codeFolder;
    s.Id = folder.filename().string();
    s.Folder = folder.string();
    std::error_code ec;
    s.Interrupted = fs::exists(folder / kSnapshotMarker, ec);
    std::ifstream in(folder / kSnapshotManifest);
    if (!in) return s;
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "destination")
            s.Code = value;
        else if (key == "database")
            s.Database = value;
        else if (key == "taken")
            s.Taken = value;
        else if (key == "bytes")
            s.Bytes = std::strtoull(value.c_str(), nullptr, 10);
        else if (key == "seconds")
            s.Seconds = std::strtod(value.c_str(), nullptr);
        else if (key == "file") {
            const auto space = value.find(' ');
            if (space == std::string::npos) continue;
            s.Files.push_back({value.substr(space + 1),
                               std::strtoull(value.substr(0, space).c_str(), nullptr, 10)});
        }
    }
    s.Complete = !s.Database.empty();
    return s;
}

// The folder a database's files lie in: the folder of free tables, or the dictionary's folder.
fs::path DatabaseFolder(const std::string& database) {
    const fs::path path(Norm(database));
    std::error_code ec;
    return fs::is_regular_file(path, ec) ? path.parent_path() : path;
}

bool Inside(const fs::path& inner, const fs::path& outer) {
    std::error_code ec;
    const fs::path a = fs::weakly_canonical(fs::absolute(inner), ec).lexically_normal();
    const fs::path b = fs::weakly_canonical(fs::absolute(outer), ec).lexically_normal();
    auto ai = a.begin();
    for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai) {
        if (bi->empty()) continue;  // a trailing separator
        if (ai == a.end() || *ai != *bi) return false;
    }
    return true;
}

std::string ShellQuote(const std::string& text) {
    const bool plain = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("_./-=:,+@%", c);
    });
    if (plain) return text;
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// ---- the group being merged ----

struct TActive {
    bool Merging = false;  // the marker lies in the snapshot: a restore puts the group back
    std::string Code;
    std::string Database;
    TSnapshot Snapshot;
    std::size_t Record = 0;  // its record in the form's GroupSnapshots
};
TActive& Active() {
    static TActive active;
    return active;
}

std::string RestoredSentence(const std::string& code) {
    return kMsgRestoredPrefix + code + kMsgRestoredSuffix;
}

// Puts the group being merged back. Every connection of the run is closed first, so that no
// handle of this process has a file of the destination open; what they still had to write is
// committed on the way (a failure to do so is part of the returned sentence, the destination is
// put back whatever it was). Returns the sentence for the operator; true in restored.
std::string RestoreActive(TFormMerge& form, bool& restored) noexcept {
    restored = false;
    TActive& active = Active();
    if (!active.Merging) return {};
    active.Merging = false;
    TGroupSnapshot& record = form.GroupSnapshots[active.Record];
    std::string pending;
    for (db::TDbConnection* conn : {&form.dbDest, &form.dbSource}) {
        try {
            conn->Disconnect();
        } catch (const std::exception& e) {
            if (pending.empty()) pending = e.what();
        }
    }
    const auto start = std::chrono::steady_clock::now();
    std::string why;
    try {
        // The window stays alive through the restore, but nothing may end it half-way: an
        // operator's second interruption is already the error being handled.
        RestoreSnapshot(active.Snapshot, active.Database, [&form] {
            try {
                form.ProcessMessages();
            } catch (...) {
            }
        });
        restored = true;
        record.Restored = true;
        record.RestoreSeconds = SecondsSince(start);
        RemoveMarker(active.Snapshot, [&form] {
            try {
                form.ProcessMessages();
            } catch (...) {
            }
        });
    } catch (const std::exception& e) {
        if (!restored) why = e.what();
    }
    std::string sentence;
    if (restored) {
        sentence = RestoredSentence(active.Code);
        try {
            PruneSnapshots(SnapshotRoot(form), active.Code, form.KeepSnapshots);
        } catch (const std::exception&) {
            // Old snapshots left behind take room, nothing else; the next run prunes them.
        }
    } else {
        record.RestoreFailure = why;
        std::string command;
        try {
            command = RestoreCommand(form, active.Code);
        } catch (...) {
        }
        sentence = kMsgRestoredPrefix + active.Code + kMsgRestoreFailedSuffix + why +
                   ". Its snapshot is kept in " + active.Snapshot.Folder +
                   "; put it back with: " + command;
    }
    if (!pending.empty())
        sentence += " Before that, the records still to be written could not be: " + pending;
    return sentence;
}

// ---- the preview ----

struct TPreview {
    std::string Scratch;                        // the scratch folder; empty: no preview
    std::map<std::string, std::string> Copies;  // database (normalised) -> its scratch copy
    std::vector<std::pair<std::string, std::string>> Names;  // scratch copy -> path as given
};
TPreview& Preview() {
    static TPreview preview;
    return preview;
}

std::string ScratchCopy(TFormMerge& form, const std::string& path) {
    TPreview& preview = Preview();
    const std::string key = Norm(path);
    if (auto it = preview.Copies.find(key); it != preview.Copies.end()) return it->second;
    const fs::path folder = fs::path(preview.Scratch) / std::to_string(preview.Copies.size() + 1);
    support::CreatePrivateFolders(folder.string());
    std::string name = fs::path(key).filename().string();
    if (name.empty()) name = fs::path(key).parent_path().filename().string();
    const fs::path copy = folder / name;
    std::error_code ec;
    // A database that does not exist gets a scratch path where nothing is either, so that the
    // run fails on it as it would on the installation and makes nothing there.
    if (fs::exists(key, ec)) {
        const auto files = DatabaseFiles(path);
        RefuseEngineOpen(files, "The preview cannot copy " + path);
        const bool dictionary = fs::is_regular_file(key, ec);
        if (!dictionary) support::CreatePrivateFolders(copy.string());
        const fs::path into = dictionary ? folder : copy;
        for (const auto& [file, fileName] : files)
            CopyBytes(file, (into / fileName).string(), TTarget::NewPrivate,
                      [&form] { form.ProcessMessages(); });
    }
    preview.Copies[key] = copy.string();
    preview.Names.push_back({copy.string(), path});
    return copy.string();
}

}  // namespace

std::string DefaultSnapshotFolder(const std::string& baseFolder,
                                  const std::string& dictionarySetting) {
    return baseFolder + (dictionarySetting == kDictionaryYes ? kPathSeparator : "") +
           kSnapshotFolderName;
}

std::string SnapshotRoot(const TFormMerge& form) {
    return form.SnapshotFolder.empty()
               ? DefaultSnapshotFolder(form.BaseFolder, form.DictionarySetting)
               : form.SnapshotFolder;
}

std::vector<TSnapshot> ListSnapshots(const std::string& root, const std::string& code) {
    std::vector<TSnapshot> out;
    std::error_code ec;
    const fs::path base(Norm(root));
    for (const auto& codeEntry : fs::directory_iterator(base, ec)) {
        if (!codeEntry.is_directory(ec)) continue;
        const std::string codeFolder = codeEntry.path().filename().string();
        if (!code.empty() && codeFolder != CodeFolder(code)) continue;
        std::error_code inner;
        for (const auto& entry : fs::directory_iterator(codeEntry.path(), inner)) {
            if (!entry.is_directory(inner)) continue;
            // A snapshot has its data folder; anything else is not one of ours.
            if (!fs::is_directory(entry.path() / kSnapshotData, inner)) continue;
            out.push_back(ReadSnapshot(entry.path(), codeFolder));
        }
    }
    std::sort(out.begin(), out.end(), [](const TSnapshot& a, const TSnapshot& b) {
        return a.Code != b.Code ? a.Code < b.Code : a.Id < b.Id;
    });
    return out;
}

TSnapshot TakeSnapshot(const std::string& root, const std::string& code,
                       const std::string& database, const std::function<void()>& tick) {
    const std::string what = "The snapshot of " + code + " cannot be taken";
    if (Inside(Norm(root), DatabaseFolder(database)))
        throw std::runtime_error(what + ": the snapshot folder " + root + " lies inside " +
                                 database);
    // A table open anywhere (another program, another connection of this one) refuses the hold;
    // a handle of this program without a table open is caught by the check after it.
    std::string refusal;
    auto hold = db::TDatabaseExclusiveHold::TryAcquire(database, refusal);
    if (!hold) throw std::runtime_error(what + ": " + refusal);
    const auto files = DatabaseFiles(database);
    RefuseEngineOpen(files, what);

    const auto start = std::chrono::steady_clock::now();
    TSnapshot s;
    s.Code = code;
    s.Database = database;
    s.Taken = LocalTime("%Y-%m-%d %H:%M:%S");
    const fs::path codeFolder = fs::path(Norm(root)) / CodeFolder(code);
    const std::string stamp = LocalTime("%Y%m%d-%H%M%S") + "-" + std::to_string(::getpid());
    std::error_code ec;
    s.Id = stamp;
    for (int n = 2; fs::exists(codeFolder / s.Id, ec); ++n) s.Id = stamp + "-" + std::to_string(n);
    s.Folder = (codeFolder / s.Id).string();
    const fs::path data = fs::path(s.Folder) / kSnapshotData;
    support::CreatePrivateFolders(data.string());
    try {
        for (const auto& [path, name] : files) {
            const std::uint64_t bytes =
                CopyBytes(path, (data / name).string(), TTarget::NewPrivate, tick);
            s.Files.push_back({name, bytes});
            s.Bytes += bytes;
        }
        s.Seconds = SecondsSince(start);
        WriteManifest(s);
        // Before the marker and the clearing: a power cut after them must find the snapshot whole.
        WhileTicking([&] { SyncFileSystem(s.Folder); }, tick);
    } catch (...) {
        fs::remove_all(s.Folder, ec);
        throw;
    }
    s.Complete = true;
    return s;
}

void RestoreSnapshot(const TSnapshot& snapshot, const std::string& database,
                     const std::function<void()>& tick) {
    const std::string what = "The snapshot " + snapshot.Folder + " cannot be put back";
    if (!snapshot.Complete) throw std::runtime_error(what + ": it is incomplete");
    if (Norm(snapshot.Database) != Norm(database))
        throw std::runtime_error(what + ": it was taken of " + snapshot.Database + ", not of " +
                                 database);
    const fs::path data = fs::path(snapshot.Folder) / kSnapshotData;
    std::error_code ec;
    for (const auto& [name, size] : snapshot.Files) {
        const auto actual = fs::file_size(data / name, ec);
        if (ec || actual != size)
            throw std::runtime_error(what + ": its file " + name + " is missing or damaged");
    }
    // The layout as the connection decides it: a path that names a .ADD file is a dictionary.
    std::string upper = database;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const bool dictionary = upper.find(".ADD") != std::string::npos;
    const fs::path path(Norm(database));
    const fs::path folder = dictionary ? path.parent_path() : path;
    // A database the run removed altogether is made again from the snapshot.
    fs::create_directories(folder, ec);
    if (dictionary && !fs::exists(path, ec)) support::CreatePrivateFile(path.string());

    std::string refusal;
    auto hold = db::TDatabaseExclusiveHold::TryAcquire(database, refusal);
    if (!hold) throw std::runtime_error(what + ": " + refusal);
    const auto current = DatabaseFiles(database);
    RefuseEngineOpen(current, what);

    // The journals first: a journal left beside a file written back would be replayed into it.
    auto removeFile = [&](const fs::path& file) {
        std::error_code rc;
        if (!fs::remove(file, rc) && rc && rc != std::errc::no_such_file_or_directory)
            throw std::runtime_error(what + ": " + file.string() +
                                     " cannot be removed: " + rc.message());
    };
    if (dictionary) {
        removeFile(path.string() + kWalSuffix);
        removeFile(path.string() + kShmSuffix);
    } else {
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            const std::string name = entry.path().filename().string();
            if (EndsWith(name, kWalSuffix) || EndsWith(name, kShmSuffix)) removeFile(entry.path());
        }
    }
    std::set<std::string> kept;
    for (const auto& [name, size] : snapshot.Files) {
        CopyBytes((data / name).string(), (folder / name).string(), TTarget::InPlace, tick);
        kept.insert(name);
    }
    // What the snapshot does not have was made after it (a table, a journal); a dictionary's
    // folder holds nothing else of the database.
    if (!dictionary) {
        for (const auto& [file, name] : current)
            if (!kept.count(name)) removeFile(file);
    }
    WhileTicking([&] { SyncFileSystem(folder.string()); }, tick);
}

void PlaceMarker(const TSnapshot& snapshot, const std::function<void()>& tick) {
    WhileTicking(
        [&] {
            WriteTextFile((fs::path(snapshot.Folder) / kSnapshotMarker).string(),
                          "pid=" + std::to_string(::getpid()) +
                              "\nstarted=" + LocalTime("%Y-%m-%d %H:%M:%S") +
                              "\ndatabase=" + snapshot.Database + "\n",
                          true);
            SyncFolder(snapshot.Folder);
        },
        tick);
}

void RemoveMarker(const TSnapshot& snapshot, const std::function<void()>& tick) {
    std::error_code ec;
    fs::remove(fs::path(snapshot.Folder) / kSnapshotMarker, ec);
    if (ec)
        throw std::runtime_error("The marker of " + snapshot.Folder +
                                 " cannot be removed: " + ec.message());
    WhileTicking([&] { SyncFolder(snapshot.Folder); }, tick);
}

void PruneSnapshots(const std::string& root, const std::string& code, int keep) {
    std::vector<TSnapshot> complete;
    for (auto& s : ListSnapshots(root, code)) {
        if (s.Interrupted) continue;
        if (s.Complete) {
            complete.push_back(s);
            continue;
        }
        // Left by a run killed while it copied: the destination was not touched yet.
        fs::remove_all(s.Folder);
    }
    const std::size_t kept = keep < 0 ? 0 : static_cast<std::size_t>(keep);
    for (std::size_t i = 0; i + kept < complete.size(); ++i) fs::remove_all(complete[i].Folder);
}

std::string RestoreCommand(const TFormMerge& form, const std::string& code) {
    std::string command = "peltorn restore";
    if (!form.SettingsFile.empty()) {
        std::error_code ec;
        const fs::path ini = fs::absolute(Norm(form.SettingsFile), ec);
        command += " --ini " + ShellQuote(ec ? form.SettingsFile : ini.lexically_normal().string());
    }
    if (!form.SnapshotFolder.empty()) command += " --snapshots " + ShellQuote(form.SnapshotFolder);
    return command + " --destination " + ShellQuote(code);
}

// ---- what the merge run calls ----

void StartSafetyNet(TFormMerge& form) {
    form.GroupSnapshots.clear();
    Active() = {};
    EndSafetyNet(form);
    if (!form.DryRun) return;
    std::error_code ec;
    std::string pattern = (fs::temp_directory_path(ec) / "peltorn-preview-XXXXXX").string();
    if (ec) pattern = "/tmp/peltorn-preview-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data())) Fail("Cannot make the preview's scratch folder " + pattern, errno);
    Preview().Scratch = name.data();
    form.MapDatabasePath = [&form](const std::string& path) { return ScratchCopy(form, path); };
    form.Controls.Memo1.push_back(kMsgPreviewStart);
}

void EndSafetyNet(TFormMerge& form) noexcept {
    TPreview& preview = Preview();
    if (preview.Scratch.empty()) return;
    // The copies go; nothing of the run may keep them open.
    for (db::TDbConnection* conn : {&form.dbDest, &form.dbSource}) {
        try {
            conn->Disconnect();
        } catch (...) {
            // What a preview could not write was never going to be kept.
        }
    }
    std::error_code ec;
    fs::remove_all(preview.Scratch, ec);
    form.MapDatabasePath = {};
    preview = {};
}

void RefuseInterruptedDestination(TFormMerge& form, const std::string& code) {
    for (const auto& s : ListSnapshots(SnapshotRoot(form), code)) {
        if (s.Interrupted)
            throw EMergeError(kErrInterruptedPrefix + code + kErrInterruptedMiddle +
                              RestoreCommand(form, code));
    }
}

void SnapshotDestination(TFormMerge& form, const std::string& code) {
    if (!form.TakeSnapshots || form.DryRun) return;
    CurrentRunContext().Table.clear();
    // Every handle of the run on the destination closed, so that its files are complete on disk.
    form.dbDest.Disconnect();
    form.dbSource.Disconnect();
    TSnapshot s = TakeSnapshot(SnapshotRoot(form), code, form.CurrentDbPath,
                               [&form] { form.ProcessMessages(); });
    PlaceMarker(s, [&form] { form.ProcessMessages(); });
    TGroupSnapshot record;
    record.Group = code;
    record.Destination = form.CurrentDbPath;
    record.Folder = s.Folder;
    record.Bytes = s.Bytes;
    record.Seconds = s.Seconds;
    form.GroupSnapshots.push_back(record);
    Active() = {true, code, form.CurrentDbPath, s, form.GroupSnapshots.size() - 1};
    form.dbDest.Connect();
}

void DestinationMerged(TFormMerge& form) {
    TActive& active = Active();
    if (!active.Merging) return;
    active.Merging = false;
    RemoveMarker(active.Snapshot, [&form] { form.ProcessMessages(); });
    try {
        PruneSnapshots(SnapshotRoot(form), active.Code, form.KeepSnapshots);
    } catch (const std::exception& e) {
        form.Operator().Inform("The older snapshots of " + active.Code +
                               " could not be removed: " + e.what());
    }
}

std::string RestoreStoppedDestination(TFormMerge& form) {
    bool restored = false;
    const std::string sentence = RestoreActive(form, restored);
    if (!restored && !sentence.empty())
        throw EMergeError(StoppedMessage(form.EmployeesNotConverted) + "." + sentence);
    return sentence;
}

std::string RestoreFailedDestination(TFormMerge& form) noexcept {
    bool restored = false;
    return RestoreActive(form, restored);
}

std::string InstallationText(const std::string& text) {
    std::string out = text;
    for (const auto& [copy, original] : Preview().Names) {
        for (std::size_t at = out.find(copy); at != std::string::npos;
             at = out.find(copy, at + original.size()))
            out.replace(at, copy.size(), original);
    }
    return out;
}

std::string EndOfRunLine(const TFormMerge& form, bool stopped) {
    std::string line = stopped ? StoppedMessage(form.EmployeesNotConverted) : kMsgMergeCompleted;
    if (stopped) {
        for (const auto& record : form.GroupSnapshots)
            if (record.Restored) line += "." + RestoredSentence(record.Group);
    }
    if (form.DryRun) line += kMsgPreviewEnd;
    return line;
}

}  // namespace peltorn::run
