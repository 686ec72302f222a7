// DES (FIPS 46-3) in ECB mode and the hexadecimal decoding in front of it, used to obtain the
// maintenance password; and the encrypting direction administrators use to produce a stored
// ciphertext.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace peltorn::signon {

std::int32_t HexToInt(std::string_view text);  // "Error: not a Hex String" on a non-digit
void MakeSubkeys(const std::uint8_t key[8]);
void DesBlock(std::uint8_t direction, const std::uint8_t input[8], std::uint8_t output[8]);
std::string DecryptString(std::string_view cipherBytes, std::string_view keyText);
std::string DecryptHexString(std::string_view hexText, std::string_view keyText);
// DES-ECB encryption of plainText filled up with NUL characters to a multiple of 8 bytes, with the
// key derived as DecryptString derives it; upper-case hexadecimal.
std::string EncryptHexString(std::string_view plainText, std::string_view keyText);

}  // namespace peltorn::signon
