// Message text for log lines, built by chained appends. Pure: no system headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class LogText : public std::string {
public:
    LogText() = default;
    LogText(const char* text) { *this << text; }
    LogText(const std::string& text) : std::string(text) {}

    LogText& operator<<(const char* text);  // a null pointer appends nothing
    LogText& operator<<(const std::string& text);
    LogText& operator<<(int8_t value);
    LogText& operator<<(int16_t value);
    LogText& operator<<(int32_t value);
    LogText& operator<<(long value);
    LogText& operator<<(uint8_t value);
    LogText& operator<<(uint16_t value);
    LogText& operator<<(uint32_t value);
    LogText& operator<<(unsigned long value);
    LogText& operator<<(long long value);
    LogText& operator<<(unsigned long long value);
    LogText& operator<<(const void* pointer);  // "0x" and 8 hex digits; null appends nothing
    LogText& operator<<(bool value);
    LogText& operator<<(float value);
    LogText& operator<<(double value);
    LogText& operator<<(char) = delete;  // say whether a character or a number is meant

    // Digits of value in radix 2..36, lower case.
    LogText& appendRadix(uint32_t value, unsigned radix);
};

// Two lower-case hex digits per byte, each followed by a space when spaced (also the last).
std::string toHexText(const uint8_t* bytes, size_t length, bool spaced);
