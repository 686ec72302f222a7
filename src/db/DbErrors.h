// Errors of the database layer.
//
// EDbDatabaseError: the engine failed (missing database, table or file, refused credentials, wrong
// table password, a damaged file, a full disk, a read-only file, key violation, SQL error, a table
// held by another user). It carries a code.
// EDbConnectionError: a connection was misused (path changed while connected, no path).
// EDbDatasetError: a dataset was misused (field not found, no index for FindKey, an operation on
// an open query, writing outside edit state, a value that does not fit its field).
// Texts name what failed (table, field, database) and are cut to 600 characters.
#pragma once

#include <stdexcept>
#include <string>

namespace peltorn::db {

class EDbError : public std::runtime_error {
public:
    explicit EDbError(const std::string& message);
};

// Codes of EDbDatabaseError.
enum class TDbErrorCode {
    General = 5000,
    DatabaseNotFound = 5001,
    TableNotFound = 5002,
    LoginRefused = 5003,
    NotADatabase = 5004,
    PasswordRequired = 5005,
    WrongPassword = 5006,
    TableInUse = 5007,
    KeyViolation = 5008,
    SqlError = 5009,
    FileError = 5010,
    IndexNotFound = 5011,
    DiskFull = 5012,  // no space left, or the file-size limit reached
    ReadOnly = 5013,  // the file or its folder cannot be written
};

class EDbDatabaseError : public EDbError {
public:
    EDbDatabaseError(TDbErrorCode code, const std::string& message);
    TDbErrorCode Code() const { return m_code; }

private:
    TDbErrorCode m_code;
};

class EDbConnectionError : public EDbError {
public:
    using EDbError::EDbError;
};

class EDbDatasetError : public EDbError {
public:
    using EDbError::EDbError;
};

}  // namespace peltorn::db
