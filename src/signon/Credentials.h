// The fixed credentials of the installation's company databases. All are constants of the
// system, sent exactly as written.
#pragma once

namespace peltorn::signon {

// User under which PAYPARA is opened to read the version mark.
inline constexpr const char* kMaintenanceUser = "ORVEXSYS8";
// The maintenance password is not kept in plain text: MaintenancePassword() decrypts this.
inline constexpr const char* kMaintenanceCipherText = "3FA9C1D07E5B24A8961C0DE7B3F45A20";
inline constexpr const char* kMaintenanceCipherKey = "%&7382)";
// User with which every company connection is finally opened.
inline constexpr const char* kAdminUser = "ADSSYS";
// ADSSYS password of databases whose version mark is present and is not "@2018".
inline constexpr const char* kAdminPassword = "7394@QmwR5067%";
// Encryption password of free tables; also the ADSSYS password of databases marked "@2018" or
// without a version mark.
inline constexpr const char* kFreeTablePassword = "KQZLV4862";

}  // namespace peltorn::signon
