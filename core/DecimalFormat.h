#pragma once

#include <charconv>
#include <string>

// "%.1f" with a full stop whatever the process locale: a Qt application adopts the user's
// locale, and printf would then write a decimal comma in, say, German.
inline std::string formatOneDecimal(double value) {
    char buffer[512];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    return std::string(buffer, result.ptr);
}
