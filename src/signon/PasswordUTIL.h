// The maintenance user's password, decrypted at run time from its stored ciphertext.
#pragma once

#include <string>

namespace peltorn::signon {

std::string MaintenancePassword();

}  // namespace peltorn::signon
