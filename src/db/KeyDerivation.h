// PBKDF2-HMAC-SHA256, the derivation of every key and password hash of the layer, computed in
// slices so that the windows keep processing their messages while a key is derived: a
// derivation of 120,000 rounds takes longer than the interval a window may go without
// repainting. The result is that of any other PBKDF2-HMAC-SHA256.
#pragma once

#include <cstddef>
#include <string_view>

namespace peltorn::db::detail {

// Writes outLength bytes of PBKDF2-HMAC-SHA256(password, salt, iterations) to out. Calls the
// statement heartbeat (see SetStatementHeartbeat) between slices of rounds. A derivation asked
// for again in the same process is answered from memory. Returns false when the crypto library
// fails.
bool DeriveKey(std::string_view password, const unsigned char* salt, std::size_t saltLength,
               int iterations, unsigned char* out, std::size_t outLength);

}  // namespace peltorn::db::detail
