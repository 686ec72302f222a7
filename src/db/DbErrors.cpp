// Errors of the database layer; texts are cut to the 600 characters an operator is shown.
#include "db/DbErrors.h"

#include "db/Sqlite.h"

namespace peltorn::db {

namespace {
constexpr std::size_t kMaxMessage = 600;
std::string Cut(const std::string& message) {
    return message.size() > kMaxMessage ? message.substr(0, kMaxMessage) : message;
}
}  // namespace

// Posted records are committed before any error leaves the layer (see WriteGroups).
EDbError::EDbError(const std::string& message) : std::runtime_error(Cut(message)) {
    detail::WriteGroups::CommitAll();
}

EDbDatabaseError::EDbDatabaseError(TDbErrorCode code, const std::string& message)
    : EDbError(message), m_code(code) {}

}  // namespace peltorn::db
