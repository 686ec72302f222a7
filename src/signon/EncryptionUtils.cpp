// DES (FIPS 46-3) in ECB mode, with the hexadecimal decoding in front of it. The sign-on uses it
// to decrypt the maintenance password from its stored ciphertext; EncryptHexString produces such
// a ciphertext for administrators.
//
// Bits are numbered as in FIPS 46-3: bit 1 is the most significant bit of the first byte. The
// tables below hold those positions counted from 0. The subkey table is state of this unit,
// rebuilt from the key by every DecryptString and EncryptHexString; one operation must finish
// before another starts (everything runs on the user-interface thread).
#include "signon/EncryptionUtils.h"

#include <array>
#include <stdexcept>

namespace peltorn::signon {

namespace {

constexpr const char* kNotHexMessage = "Error: not a Hex String";
constexpr std::size_t kBlockSize = 8;
constexpr int kRounds = 16;
constexpr std::uint8_t kEncrypt = 0;
constexpr std::uint8_t kDecrypt = 1;

// clang-format off
constexpr std::array<std::uint8_t, 64> kIP = {
    57, 49, 41, 33, 25, 17,  9,  1,  59, 51, 43, 35, 27, 19, 11,  3,
    61, 53, 45, 37, 29, 21, 13,  5,  63, 55, 47, 39, 31, 23, 15,  7,
    56, 48, 40, 32, 24, 16,  8,  0,  58, 50, 42, 34, 26, 18, 10,  2,
    60, 52, 44, 36, 28, 20, 12,  4,  62, 54, 46, 38, 30, 22, 14,  6};

constexpr std::array<std::uint8_t, 64> kIPInverse = {
    39,  7, 47, 15, 55, 23, 63, 31,  38,  6, 46, 14, 54, 22, 62, 30,
    37,  5, 45, 13, 53, 21, 61, 29,  36,  4, 44, 12, 52, 20, 60, 28,
    35,  3, 43, 11, 51, 19, 59, 27,  34,  2, 42, 10, 50, 18, 58, 26,
    33,  1, 41,  9, 49, 17, 57, 25,  32,  0, 40,  8, 48, 16, 56, 24};

constexpr std::array<std::uint8_t, 48> kE = {
    31,  0,  1,  2,  3,  4,   3,  4,  5,  6,  7,  8,
     7,  8,  9, 10, 11, 12,  11, 12, 13, 14, 15, 16,
    15, 16, 17, 18, 19, 20,  19, 20, 21, 22, 23, 24,
    23, 24, 25, 26, 27, 28,  27, 28, 29, 30, 31,  0};

constexpr std::array<std::uint8_t, 32> kP = {
    15,  6, 19, 20, 28, 11, 27, 16,   0, 14, 22, 25,  4, 17, 30,  9,
     1,  7, 23, 13, 31, 26,  2,  8,  18, 12, 29,  5, 21, 10,  3, 24};

constexpr std::array<std::uint8_t, 56> kPC1 = {
    56, 48, 40, 32, 24, 16,  8,   0, 57, 49, 41, 33, 25, 17,
     9,  1, 58, 50, 42, 34, 26,  18, 10,  2, 59, 51, 43, 35,
    62, 54, 46, 38, 30, 22, 14,   6, 61, 53, 45, 37, 29, 21,
    13,  5, 60, 52, 44, 36, 28,  20, 12,  4, 27, 19, 11,  3};

constexpr std::array<std::uint8_t, 48> kPC2 = {
    13, 16, 10, 23,  0,  4,   2, 27, 14,  5, 20,  9,
    22, 18, 11,  3, 25,  7,  15,  6, 26, 19, 12,  1,
    40, 51, 30, 36, 46, 54,  29, 39, 50, 44, 32, 47,
    43, 48, 38, 55, 33, 52,  45, 41, 49, 35, 28, 31};

constexpr std::array<std::uint8_t, kRounds> kShifts = {1, 1, 2, 2, 2, 2, 2, 2,
                                                       1, 2, 2, 2, 2, 2, 2, 1};

// S-box i, row r (outer bits), column c (inner bits): kSBox[i][r * 16 + c].
constexpr std::uint8_t kSBox[8][64] = {
    {14,  4, 13,  1,  2, 15, 11,  8,  3, 10,  6, 12,  5,  9,  0,  7,
      0, 15,  7,  4, 14,  2, 13,  1, 10,  6, 12, 11,  9,  5,  3,  8,
      4,  1, 14,  8, 13,  6,  2, 11, 15, 12,  9,  7,  3, 10,  5,  0,
     15, 12,  8,  2,  4,  9,  1,  7,  5, 11,  3, 14, 10,  0,  6, 13},
    {15,  1,  8, 14,  6, 11,  3,  4,  9,  7,  2, 13, 12,  0,  5, 10,
      3, 13,  4,  7, 15,  2,  8, 14, 12,  0,  1, 10,  6,  9, 11,  5,
      0, 14,  7, 11, 10,  4, 13,  1,  5,  8, 12,  6,  9,  3,  2, 15,
     13,  8, 10,  1,  3, 15,  4,  2, 11,  6,  7, 12,  0,  5, 14,  9},
    {10,  0,  9, 14,  6,  3, 15,  5,  1, 13, 12,  7, 11,  4,  2,  8,
     13,  7,  0,  9,  3,  4,  6, 10,  2,  8,  5, 14, 12, 11, 15,  1,
     13,  6,  4,  9,  8, 15,  3,  0, 11,  1,  2, 12,  5, 10, 14,  7,
      1, 10, 13,  0,  6,  9,  8,  7,  4, 15, 14,  3, 11,  5,  2, 12},
    { 7, 13, 14,  3,  0,  6,  9, 10,  1,  2,  8,  5, 11, 12,  4, 15,
     13,  8, 11,  5,  6, 15,  0,  3,  4,  7,  2, 12,  1, 10, 14,  9,
     10,  6,  9,  0, 12, 11,  7, 13, 15,  1,  3, 14,  5,  2,  8,  4,
      3, 15,  0,  6, 10,  1, 13,  8,  9,  4,  5, 11, 12,  7,  2, 14},
    { 2, 12,  4,  1,  7, 10, 11,  6,  8,  5,  3, 15, 13,  0, 14,  9,
     14, 11,  2, 12,  4,  7, 13,  1,  5,  0, 15, 10,  3,  9,  8,  6,
      4,  2,  1, 11, 10, 13,  7,  8, 15,  9, 12,  5,  6,  3,  0, 14,
     11,  8, 12,  7,  1, 14,  2, 13,  6, 15,  0,  9, 10,  4,  5,  3},
    {12,  1, 10, 15,  9,  2,  6,  8,  0, 13,  3,  4, 14,  7,  5, 11,
     10, 15,  4,  2,  7, 12,  9,  5,  6,  1, 13, 14,  0, 11,  3,  8,
      9, 14, 15,  5,  2,  8, 12,  3,  7,  0,  4, 10,  1, 13, 11,  6,
      4,  3,  2, 12,  9,  5, 15, 10, 11, 14,  1,  7,  6,  0,  8, 13},
    { 4, 11,  2, 14, 15,  0,  8, 13,  3, 12,  9,  7,  5, 10,  6,  1,
     13,  0, 11,  7,  4,  9,  1, 10, 14,  3,  5, 12,  2, 15,  8,  6,
      1,  4, 11, 13, 12,  3,  7, 14, 10, 15,  6,  8,  0,  5,  9,  2,
      6, 11, 13,  8,  1,  4, 10,  7,  9,  5,  0, 15, 14,  2,  3, 12},
    {13,  2,  8,  4,  6, 15, 11,  1, 10,  9,  3, 14,  5,  0, 12,  7,
      1, 15, 13,  8, 10,  3,  7,  4, 12,  5,  6, 11,  0, 14,  9,  2,
      7, 11,  4,  1,  9, 12, 14,  2,  0,  6, 10, 13, 15,  3,  5,  8,
      2,  1, 14,  7,  4, 10,  8, 13, 15, 12,  9,  0,  3,  5,  6, 11}};
// clang-format on

// The sixteen 48-bit subkeys of the last key, 6 bytes each, most significant bit first.
std::uint8_t g_subkeys[kRounds][6] = {};

// Selects bits of value (width inWidth, bit 0 = most significant) in the order of table; the
// result holds table.size() bits, the first selected bit most significant.
template <std::size_t N>
std::uint64_t Permute(std::uint64_t value, int inWidth, const std::array<std::uint8_t, N>& table) {
    std::uint64_t out = 0;
    for (std::uint8_t position : table) {
        out = (out << 1) | ((value >> (inWidth - 1 - position)) & 1u);
    }
    return out;
}

std::uint64_t LoadBlock(const std::uint8_t bytes[8]) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i) value = (value << 8) | bytes[i];
    return value;
}

void StoreBlock(std::uint64_t value, std::uint8_t bytes[8]) {
    for (int i = 7; i >= 0; --i) {
        bytes[i] = static_cast<std::uint8_t>(value & 0xFFu);
        value >>= 8;
    }
}

std::uint64_t Subkey(int round) {
    std::uint64_t k = 0;
    for (std::uint8_t byte : g_subkeys[round]) k = (k << 8) | byte;
    return k;
}

// The cipher function f(R, K): expansion, key mixing, S-boxes, P.
std::uint32_t Feistel(std::uint32_t right, std::uint64_t subkey) {
    const std::uint64_t mixed = Permute(right, 32, kE) ^ subkey;
    std::uint64_t sOut = 0;
    for (int box = 0; box < 8; ++box) {
        const auto six = static_cast<unsigned>((mixed >> (42 - 6 * box)) & 0x3Fu);
        const unsigned row = ((six & 0x20u) >> 4) | (six & 0x01u);
        const unsigned column = (six >> 1) & 0x0Fu;
        sOut = (sOut << 4) | kSBox[box][row * 16 + column];
    }
    return static_cast<std::uint32_t>(Permute(sOut, 32, kP));
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The 8 key bytes of a key text: filled up with NUL characters, characters past the eighth
// dropped. The bytes go to DES unchanged; PC-1 ignores their parity bits.
void KeyBytes(std::string_view keyText, std::uint8_t key[8]) {
    for (std::size_t i = 0; i < 8; ++i) {
        key[i] = i < keyText.size() ? static_cast<std::uint8_t>(keyText[i]) : 0;
    }
}

}  // namespace

std::int32_t HexToInt(std::string_view text) {
    // Unsigned arithmetic: more than eight digits wrap around in 32 bits instead of overflowing.
    std::uint32_t value = 0;
    for (char c : text) {
        const int digit = HexDigitValue(c);
        if (digit < 0) throw std::invalid_argument(kNotHexMessage);
        value = value * 16u + static_cast<std::uint32_t>(digit);
    }
    return static_cast<std::int32_t>(value);
}

void MakeSubkeys(const std::uint8_t key[8]) {
    const std::uint64_t selected = Permute(LoadBlock(key), 64, kPC1);
    constexpr std::uint32_t kMask28 = 0x0FFFFFFFu;
    auto c = static_cast<std::uint32_t>(selected >> 28) & kMask28;
    auto d = static_cast<std::uint32_t>(selected) & kMask28;
    for (int round = 0; round < kRounds; ++round) {
        const int shift = kShifts[round];
        c = ((c << shift) | (c >> (28 - shift))) & kMask28;
        d = ((d << shift) | (d >> (28 - shift))) & kMask28;
        const std::uint64_t cd = (static_cast<std::uint64_t>(c) << 28) | d;
        std::uint64_t subkey = Permute(cd, 56, kPC2);
        for (int i = 5; i >= 0; --i) {
            g_subkeys[round][i] = static_cast<std::uint8_t>(subkey & 0xFFu);
            subkey >>= 8;
        }
    }
}

void DesBlock(std::uint8_t direction, const std::uint8_t input[8], std::uint8_t output[8]) {
    const std::uint64_t permuted = Permute(LoadBlock(input), 64, kIP);
    auto left = static_cast<std::uint32_t>(permuted >> 32);
    auto right = static_cast<std::uint32_t>(permuted);
    std::uint64_t preOutput = permuted;  // no rounds: IP^-1 undoes IP, the block is unchanged
    if (direction == kEncrypt || direction == kDecrypt) {
        for (int i = 0; i < kRounds; ++i) {
            const int round = direction == kEncrypt ? i : kRounds - 1 - i;
            const std::uint32_t newRight = left ^ Feistel(right, Subkey(round));
            left = right;
            right = newRight;
        }
        // The output of the last round enters IP^-1 swapped: R16 L16.
        preOutput = (static_cast<std::uint64_t>(right) << 32) | left;
    }
    StoreBlock(Permute(preOutput, 64, kIPInverse), output);
}

std::string DecryptString(std::string_view cipherBytes, std::string_view keyText) {
    std::uint8_t key[8];
    KeyBytes(keyText, key);
    MakeSubkeys(key);

    std::string result;
    const std::size_t blocks = cipherBytes.size() / kBlockSize;  // a partial block is ignored
    result.reserve(blocks * kBlockSize);
    for (std::size_t b = 0; b < blocks; ++b) {
        std::uint8_t in[8];
        std::uint8_t out[8];
        for (std::size_t i = 0; i < kBlockSize; ++i) {
            in[i] = static_cast<std::uint8_t>(cipherBytes[b * kBlockSize + i]);
        }
        DesBlock(kDecrypt, in, out);
        for (std::uint8_t byte : out) result += static_cast<char>(byte);
    }
    // Only the fill at the end goes; NUL characters inside the text stay.
    while (!result.empty() && result.back() == '\0') result.pop_back();
    return result;
}

std::string DecryptHexString(std::string_view hexText, std::string_view keyText) {
    const std::size_t n = hexText.size() / 2;  // a final odd digit is ignored
    std::string bytes;
    bytes.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes += static_cast<char>(HexToInt(hexText.substr(2 * i, 2)) & 0xFF);
    }
    return DecryptString(bytes, keyText);
}

std::string EncryptHexString(std::string_view plainText, std::string_view keyText) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::uint8_t key[8];
    KeyBytes(keyText, key);
    MakeSubkeys(key);

    std::string filled(plainText);
    filled.resize((filled.size() + kBlockSize - 1) / kBlockSize * kBlockSize, '\0');
    std::string hex;
    hex.reserve(filled.size() * 2);
    for (std::size_t b = 0; b < filled.size(); b += kBlockSize) {
        std::uint8_t in[8];
        std::uint8_t out[8];
        for (std::size_t i = 0; i < kBlockSize; ++i)
            in[i] = static_cast<std::uint8_t>(filled[b + i]);
        DesBlock(kEncrypt, in, out);
        for (std::uint8_t byte : out) {
            hex += kHexDigits[byte >> 4];
            hex += kHexDigits[byte & 0x0F];
        }
    }
    return hex;
}

}  // namespace peltorn::signon
