// The login choice for a company database. The merge run calls SelectAdminLogin for the
// destination and for every source connection, always with the destination connection and its
// PAYPARA table component, so the destination's version mark decides the ADSSYS password of the
// sources too.
//
// Order of one call with "T": the connection is disconnected and given the maintenance user,
// PAYPARA is opened (which connects with those credentials), DBVERSION is read, and the
// connection is disconnected again and left with ADSSYS and the chosen password.
#include "signon/DB_UTIL.h"

#include "signon/Credentials.h"
#include "signon/PasswordUTIL.h"

namespace peltorn::signon {

namespace {

constexpr const char* kSignOnYes = "T";
constexpr const char* kParaTableName = "PAYPARA";
constexpr const char* kVersionField = "DBVERSION";
// Databases marked so (or with no mark at all) keep the free-table password for ADSSYS.
constexpr const char* kMark2018 = "@2018";

}  // namespace

std::string AdminPasswordForMark(const std::optional<std::string>& mark) {
    if (!mark || *mark == kMark2018) return kFreeTablePassword;
    return kAdminPassword;
}

// When PAYPARA cannot be opened the database layer's error passes to the caller unchanged, with
// the connection disconnected under the maintenance user and password, and password holding the
// free-table password. A missing PAYPARA fails only after the open has connected the database as
// the maintenance user, so the connection is disconnected again before the error goes on: no
// maintenance session is left open behind a failed sign-on.
void SelectAdminLogin(db::TDbConnection& connection, db::TDbTable& paraTable,
                      std::string_view signOnFlag, std::string& password) {
    password = kFreeTablePassword;
    if (signOnFlag != kSignOnYes) return;

    connection.Disconnect();
    connection.Username = kMaintenanceUser;
    connection.Password = MaintenancePassword();

    paraTable.Close();
    paraTable.SetTableName(kParaTableName);
    paraTable.SetExclusive(false);
    try {
        paraTable.Open();
    } catch (...) {
        try {
            connection.Disconnect();
        } catch (...) {
            // The open's own error is the one the caller must see.
        }
        throw;
    }

    password = kAdminPassword;
    std::optional<std::string> mark;
    if (db::TField* field = paraTable.FindField(kVersionField)) mark = field->AsString();
    password = AdminPasswordForMark(mark);

    connection.Disconnect();
    connection.Username = kAdminUser;
    connection.Password = password;
}

}  // namespace peltorn::signon
