// Errors of the database layer; texts are cut to the 600 characters an operator is shown.
#include "db/DbErrors.h"

#include "db/Sqlite.h"

namespace peltorn::db {

namespace {
constexpr std::size_t kMaxMessage = 600;
std::string Cut(const std::string& message) {
    return message.size() > kMaxMessage ? message.substr(0, kMaxMessage) : message;
}

// Posted records are committed before any error leaves the layer (see WriteGroups). When that
// commit fails, the error says so as well: the records it names were not written.
std::string WithCommitFailures(const std::string& message) {
    std::string failures = detail::WriteGroups::CommitAllQuietly();
    if (failures.empty()) return message;
    // The failure to write is the part the operator must not miss: it is kept whole.
    std::size_t room = kMaxMessage > failures.size() + 2 ? kMaxMessage - failures.size() - 2 : 0;
    return message.substr(0, room) + "; " + failures;
}
}  // namespace

EDbError::EDbError(const std::string& message)
    : std::runtime_error(Cut(WithCommitFailures(message))) {}

EDbDatabaseError::EDbDatabaseError(TDbErrorCode code, const std::string& message)
    : EDbError(message), m_code(code) {}

}  // namespace peltorn::db
