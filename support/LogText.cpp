#include "LogText.h"

#include <cstdio>

LogText& LogText::operator<<(const char* text) {
    if (text != nullptr) append(text);
    return *this;
}
LogText& LogText::operator<<(const std::string& text) {
    append(text);
    return *this;
}
LogText& LogText::operator<<(int8_t value) { return *this << static_cast<int32_t>(value); }
LogText& LogText::operator<<(int16_t value) { return *this << static_cast<int32_t>(value); }
LogText& LogText::operator<<(int32_t value) {
    append(std::to_string(value));
    return *this;
}
LogText& LogText::operator<<(long value) {
    append(std::to_string(value));
    return *this;
}
LogText& LogText::operator<<(uint8_t value) { return *this << static_cast<uint32_t>(value); }
LogText& LogText::operator<<(uint16_t value) { return *this << static_cast<uint32_t>(value); }
LogText& LogText::operator<<(uint32_t value) {
    append(std::to_string(value));
    return *this;
}
LogText& LogText::operator<<(unsigned long value) {
    append(std::to_string(value));
    return *this;
}
LogText& LogText::operator<<(long long value) {
    append(std::to_string(value));
    return *this;
}
LogText& LogText::operator<<(unsigned long long value) {
    append(std::to_string(value));
    return *this;
}
LogText& LogText::operator<<(const void* pointer) {
    if (pointer == nullptr) return *this;
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "0x%08llX",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)));
    append(buffer);
    return *this;
}
LogText& LogText::operator<<(bool value) {
    append(value ? "true" : "false");
    return *this;
}
LogText& LogText::operator<<(float value) { return *this << static_cast<double>(value); }
LogText& LogText::operator<<(double value) {
    char buffer[512];
    std::snprintf(buffer, sizeof(buffer), "%f", value);
    append(buffer);
    return *this;
}

LogText& LogText::appendRadix(uint32_t value, unsigned radix) {
    if (radix < 2 || radix > 36) radix = 10;
    char digits[33];
    int position = 32;
    digits[position] = '\0';
    do {
        digits[--position] = "0123456789abcdefghijklmnopqrstuvwxyz"[value % radix];
        value /= radix;
    } while (value != 0);
    append(digits + position);
    return *this;
}

std::string toHexText(const uint8_t* bytes, size_t length, bool spaced) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    if (bytes == nullptr) return text;
    text.reserve(length * (spaced ? 3 : 2));
    for (size_t i = 0; i < length; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
        if (spaced) text += ' ';
    }
    return text;
}
