#include "link/hex.h"

int Hex_Digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

uint8_t Hex_Value(char c) {
    const int d = Hex_Digit(c);
    return static_cast<uint8_t>(d < 0 ? 0 : d);
}

uint8_t Hex_Byte(char high, char low) { return static_cast<uint8_t>(Hex_Value(high) << 4 | Hex_Value(low)); }
