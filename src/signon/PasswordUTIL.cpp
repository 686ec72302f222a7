// The maintenance user's password. It is kept only as DES ciphertext in the program and exists
// in plain text only in memory, while a company connection is being prepared (SelectAdminLogin).
#include "signon/PasswordUTIL.h"

#include "signon/Credentials.h"
#include "signon/EncryptionUtils.h"

namespace peltorn::signon {

// The decrypted bytes are returned exactly as they come out, whatever characters they are: the
// dictionaries check the maintenance user against exactly these bytes, so do not clean them up.
std::string MaintenancePassword() {
    return DecryptHexString(kMaintenanceCipherText, kMaintenanceCipherKey);
}

}  // namespace peltorn::signon
