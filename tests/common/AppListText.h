// Stored application-list text as the tests and benchmarks write it: built here, apart from the
// product's own builder, so that a fault in that builder can't hide in what a test expects.
#pragma once

#include <string>

namespace testing_support {

// One APP entry in the stored layout; `supportedTypes` empty means just `type`.
inline std::wstring appEntryText(const std::wstring& name, const std::wstring& path, const std::wstring& type,
                                 bool isDefault = false, const std::wstring& supportedTypes = L"") {
    std::wstring entry = L"     <APP>\r\n          <FRIENDLY_NAME>" + name + L"</FRIENDLY_NAME>\r\n          <PATH>" +
                         path + L"</PATH>\r\n";
    if (isDefault) entry += L"          <DEFAULT_AIO_APP>true</DEFAULT_AIO_APP>\r\n";
    return entry + L"          <DEFAULT_FILE_TYPE>" + type + L"</DEFAULT_FILE_TYPE>\r\n          <SUPPORTED_FILE_TYPES>" +
           (supportedTypes.empty() ? type : supportedTypes) + L"</SUPPORTED_FILE_TYPES>\r\n     </APP>\r\n";
}

// The same in 8-bit text, for documents handed out as UTF-8; ASCII arguments only.
inline std::string appEntryText(const std::string& name, const std::string& path, const std::string& type,
                                bool isDefault = false, const std::string& supportedTypes = "") {
    const auto wide = [](const std::string& text) { return std::wstring(text.begin(), text.end()); };
    const std::wstring entry = appEntryText(wide(name), wide(path), wide(type), isDefault, wide(supportedTypes));
    std::string out;
    for (wchar_t c : entry) out += static_cast<char>(c);
    return out;
}

inline std::wstring appListText(const std::wstring& entries) { return L"<APPLIST>\r\n" + entries + L"</APPLIST>"; }
inline std::string appListText(const std::string& entries) { return "<APPLIST>\r\n" + entries + "</APPLIST>"; }

}  // namespace testing_support
