// TDbConnection: one database of the installation, either a folder of free tables (one
// <TABLE>.ADT file per table) or a data dictionary (one .ADD file that owns its tables and users).
//
// The connection is reused for database after database: disconnect, set ConnectPath, sign on,
// connect. Datasets bound to it connect it implicitly when they open. Disconnecting closes every
// dataset bound to it and forgets the passwords given to its statements.
#pragma once

#include "db/DbTypes.h"

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace peltorn::db {

class TDataSet;
namespace detail {
class ConnectionImpl;
}

enum class TServerType { stREMOTE, stLOCAL, stINTERNET };
enum class TCompressionType { ctDefault, ctNever, ctAlways, ctInternet };
enum class TCommunicationType { ctDefaultComm, ctTCP_IP, ctUDP_IP, ctIPX };

class TDbConnection {
public:
    explicit TDbConnection(std::string name = {});
    ~TDbConnection();
    TDbConnection(const TDbConnection&) = delete;
    TDbConnection& operator=(const TDbConnection&) = delete;

    const std::string& Name() const { return m_name; }

    // Only while disconnected; otherwise EDbConnectionError
    // "The TDbConnection.ConnectPath may not be changed when IsConnected is TRUE".
    void SetConnectPath(const std::string& path);
    const std::string& ConnectPath() const { return m_connectPath; }

    // True when the upper-cased ConnectPath contains ".ADD"; decided when the path is set.
    bool IsDictionaryConn() const { return m_isDictionary; }

    // Sent to the engine only for dictionary connections.
    std::string Username;
    std::string Password;
    bool LoginPrompt = false;
    std::set<TServerType> ServerTypes{TServerType::stREMOTE, TServerType::stLOCAL};
    TCompressionType Compression = TCompressionType::ctDefault;
    TCommunicationType CommunicationType = TCommunicationType::ctDefaultComm;

    // Connect: an empty path fails with EDbConnectionError "Must specify connection string before
    // getting a server connection."; a missing database or refused credentials with
    // EDbDatabaseError. Disconnect closes every dataset bound to the connection first.
    void SetIsConnected(bool connected);
    bool IsConnected() const;
    void Connect() { SetIsConnected(true); }
    void Disconnect() { SetIsConnected(false); }

    // True while connected to an encrypted data dictionary; false for a plain dictionary, a folder
    // of free tables and a connection that is not connected.
    bool IsEncryptedDictionary() const;

    // Connects if needed and executes one statement without parameters directly on the
    // connection; returns the number of rows affected.
    int ExecuteStatement(const std::string& sql);

    // Layer internals, used by datasets.
    detail::ConnectionImpl& Impl();
    void RegisterDataSet(TDataSet* dataset);
    void UnregisterDataSet(TDataSet* dataset);

private:
    std::string m_name;
    std::string m_connectPath;
    bool m_isDictionary = false;
    std::unique_ptr<detail::ConnectionImpl> m_impl;
    std::vector<TDataSet*> m_dataSets;
};

// Commits every posted record still held in a commit group (the end of a run calls it; tables,
// connections and errors do it on their own). Raises EDbDatabaseError naming the table and
// database when records could not be written, including such a failure met earlier where it
// could not be raised (a handle closed by a destructor).
void FlushPendingWrites();

// A database held against every other merge run, of this process or any other, for as long as
// the object lives: a folder of free tables or a data dictionary, named by its connect path.
// The hold is an advisory lock that ends with the object or the process (a killed run leaves no
// stale hold). It does not keep anybody from reading or using the tables otherwise.
class TDatabaseRunLock {
public:
    // Null when another run holds the database, or it cannot be found or locked.
    static std::unique_ptr<TDatabaseRunLock> TryAcquire(const std::string& connectPath);
    ~TDatabaseRunLock();
    TDatabaseRunLock(const TDatabaseRunLock&) = delete;
    TDatabaseRunLock& operator=(const TDatabaseRunLock&) = delete;

private:
    TDatabaseRunLock() = default;
    struct TImpl;
    std::unique_ptr<TImpl> m_impl;
};

// All or nothing for a run of posts (peltorn db import). While a batch is in force, the records
// posted through tables stay in their files' open transactions: neither a commit group's size or
// age, nor a layer error, FlushPendingWrites or a reader of the file commits them. Commit writes
// them, each file's records in one commit. A batch that ends without Commit (an error, an
// interruption) takes them all back, and so does closing the table that posted them before
// Commit; a process killed meanwhile leaves none of them in the files.
//
// Meant for one table written through one dataset: another connection that writes a file the
// batch holds waits for it and fails as a table in use, other readers see the file without the
// batch's records, and FlushFileBuffers of the posting table fails (the file cannot be
// checkpointed under the open transaction). One batch at a time (a second raises
// std::logic_error). The records posted before the batch began are committed when it begins.
class TWriteBatch {
public:
    TWriteBatch();
    ~TWriteBatch();  // takes back what was not committed
    TWriteBatch(const TWriteBatch&) = delete;
    TWriteBatch& operator=(const TWriteBatch&) = delete;

    // Raises EDbDatabaseError when a file refuses the commit; its records are then taken back.
    void Commit();

private:
    bool m_done = false;
};

// A long statement (a delete over a whole year, a large selection) runs inside the storage engine
// without returning to its caller. While a heartbeat is set, every statement of every connection
// calls it about every intervalMs milliseconds of its running time, so that the windows keep
// processing their messages (repaint, the stop request) through it. Exceptions the heartbeat
// raises are swallowed: it must not end the statement. An empty function removes it.
void SetStatementHeartbeat(std::function<void()> heartbeat, int intervalMs = 25);

// Sets the heartbeat for the life of the object and removes it afterwards.
class TStatementHeartbeat {
public:
    explicit TStatementHeartbeat(std::function<void()> heartbeat, int intervalMs = 25) {
        SetStatementHeartbeat(std::move(heartbeat), intervalMs);
    }
    ~TStatementHeartbeat() { SetStatementHeartbeat({}); }
    TStatementHeartbeat(const TStatementHeartbeat&) = delete;
    TStatementHeartbeat& operator=(const TStatementHeartbeat&) = delete;
};

// Paths as the system forms them: "\" and "/" both separate, repeated separators count as one.
// Returns the path in the machine's own form.
std::string NormalizePath(std::string_view path);

}  // namespace peltorn::db
