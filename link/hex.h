// Hexadecimal digits as the board's frames and the register files carry them.
// Qt-free, so every reader of those bytes parses them the same way.
#pragma once

#include <cstdint>

// '0'-'9' -> 0-9, 'A'-'F' and 'a'-'f' -> 10-15, anything else -1.
int Hex_Digit(char c);
// The same with anything else read as 0: the board's digits are taken as
// they come.
uint8_t Hex_Value(char c);
// Two digits, the high one first, each read as Hex_Value reads it.
uint8_t Hex_Byte(char high, char low);
