// The login choice for company databases: sign on as the maintenance user, read the version mark
// of PAYPARA and leave the connection prepared for ADSSYS with the password of that version.
#pragma once

#include "db/Db.h"

#include <optional>
#include <string>
#include <string_view>

namespace peltorn::signon {

// signOnFlag "T" signs on; anything else only sets password to the free-table password.
// On return with "T": connection disconnected, Username "ADSSYS", Password = password.
void SelectAdminLogin(db::TDbConnection& connection, db::TDbTable& paraTable,
                      std::string_view signOnFlag, std::string& password);

// The ADSSYS password SelectAdminLogin chooses for a PAYPARA whose DBVERSION holds mark
// (std::nullopt: PAYPARA has no DBVERSION field).
std::string AdminPasswordForMark(const std::optional<std::string>& mark);

}  // namespace peltorn::signon
