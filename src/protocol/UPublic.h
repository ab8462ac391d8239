// Shared routines of the instrument protocol: checksum, value encodings, model and baud tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zeva {

// Reads upper-case hexadecimal text; every other character is skipped, as the instrument
// constants are held this way and lower case was never meant to match.
constexpr int32_t HexStrToInt(std::string_view text)
{
    uint32_t result = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9')
            result = result * 16 + uint32_t(c - '0');
        else if (c >= 'A' && c <= 'F')
            result = result * 16 + uint32_t(c - 'A' + 10);
    }
    return int32_t(result);
}

// The byte that makes the first `count` bytes plus itself sum to 0 modulo 256.
constexpr uint8_t FrameChecksum(const uint8_t* buffer, std::size_t count)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += buffer[i];
    return uint8_t((256 - (sum & 0xFF)) & 0xFF);
}

// Two bytes, high first, as an unsigned count of tenths: never negative.
constexpr double DecodeTemp(uint8_t high, uint8_t low)
{
    return double(unsigned(high) * 256 + unsigned(low)) / 10.0;
}

struct TTempBytes {
    uint8_t high = 0;
    uint8_t low = 0;
    bool operator==(const TTempBytes&) const = default;
};

// Value times ten truncated toward zero; the low 16 bits in two's complement.
TTempBytes EncodeTemp(double value);

// The count of tenths that EncodeTemp sends, before it is cut to 16 bits.
int64_t TenthsOf(double value);

struct TTypeAndCapition {
    std::string TypeName;
    std::string Capition;
    bool operator==(const TTypeAndCapition&) const = default;
};

inline constexpr int ModelCount = 12;

TTypeAndCapition GetTypeAndCapition(int modelNumber);

// Code 0..5 for 300..9600 baud; anything else reads as 0 baud.
int BaudFromIndex(uint8_t code);
// Unknown rates share code 0 with 300 baud.
uint8_t IndexFromBaud(int baud);

// The temperature as text: shortest general decimal with a point (25.3, 25, 0), independent of locale.
std::string TempToText(double value);

} // namespace zeva
