// Stored lists mangled every way a broken installer or a hand edit could leave them, read through
// the real library's exports and the monitor's reading of the document into destinations.
#include "AppListClient.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>

using namespace testing_support;

namespace {
using ListFn = LONG(WINAPI*)(wchar_t*, uint32_t, uint32_t*);
using NarrowListFn = LONG(WINAPI*)(char*, uint32_t, uint32_t*);

// The brand key of "ke" libraries; no other test uses it.
const wchar_t kListKey[] = L"Software\\KelvaraInkjet\\App List Manager";

uint32_t nextRandom(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

std::wstring entry(const std::wstring& name, const std::wstring& path, bool isDefault) {
    return L"     <APP>\r\n          <FRIENDLY_NAME>" + name + L"</FRIENDLY_NAME>\r\n          <PATH>" + path +
           L"</PATH>\r\n" + (isDefault ? L"          <DEFAULT_AIO_APP>true</DEFAULT_AIO_APP>\r\n" : L"") +
           L"          <DEFAULT_FILE_TYPE>JPG</DEFAULT_FILE_TYPE>\r\n          <SUPPORTED_FILE_TYPES>JPG,BMP,TXT"
           L"</SUPPORTED_FILE_TYPES>\r\n     </APP>\r\n";
}

// A stored text with some of its pieces cut, doubled, nested or broken.
std::wstring mangled(uint32_t& state, uint64_t round) {
    static const wchar_t* const pieces[] = {L"<APP>", L"</APP>", L"<FRIENDLY_NAME>", L"</FRIENDLY_NAME>", L"<PATH>",
                                            L"</PATH>", L"<APPLIST>", L"</APPLIST>", L"<DEFAULT_AIO_APP>true",
                                            L"</DEFAULT_AIO_APP>", L"<", L">", L"\r\n", L"\u4e2d\u6587", L"\u00e9"};
    std::wstring text = entry(L"Viewer", L"C:\\v.exe", false) + entry(L"Editor", L"C:\\e.exe", true) +
                        entry(L"Reader", L"C:\\r.exe", false);
    if (round % 1000 == 7) {  // now and then a name of 100 000 characters
        text += entry(std::wstring(100000, L'N'), L"C:\\long.exe", false);
    }
    for (uint32_t changes = 1 + nextRandom(state) % 6; changes-- > 0;) {
        const size_t at = text.empty() ? 0 : nextRandom(state) % text.size();
        switch (nextRandom(state) % 5) {
            case 0:  // cut a span
                text.erase(at, nextRandom(state) % 40);
                break;
            case 1:  // double a span
                text.insert(at, text.substr(at, nextRandom(state) % 60));
                break;
            case 2:  // a tag or text where it doesn't belong
                text.insert(at, pieces[nextRandom(state) % std::size(pieces)]);
                break;
            case 3:  // an APP inside an APP
                text.insert(at, entry(L"Nested", L"C:\\n.exe", nextRandom(state) % 2 == 0));
                break;
            default:  // an embedded NUL
                text.insert(at, 1, L'\0');
                break;
        }
    }
    return text;
}

void store(const std::wstring& text) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, kListKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExW(key, L"AppList", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

// Committed private memory of this process.
unsigned long long privateBytes() {
    unsigned long long total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = nullptr; VirtualQuery(at, &region, sizeof(region)) == sizeof(region);) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return total;
}

// The library under a "ke" name beside this program, where the monitor's client finds it.
class LibraryBeside {
public:
    LibraryBeside() : path_(ownFolder() + "kemlappmgr.dll") {
        CopyFileA((ownFolder() + "kvabappmgr.dll").c_str(), path_.c_str(), FALSE);
        deleteKeyTree(HKEY_LOCAL_MACHINE, _T("Software\\KelvaraInkjet"));
        module_ = LoadLibraryA(path_.c_str());
    }
    ~LibraryBeside() {
        if (module_ != nullptr) FreeLibrary(module_);
        deleteKeyTree(HKEY_LOCAL_MACHINE, _T("Software\\KelvaraInkjet"));
        DeleteFileA(path_.c_str());
    }
    HMODULE module() const { return module_; }

private:
    std::string path_;
    HMODULE module_ = nullptr;
};
}  // namespace

TEST(MalformedList, AHundredThousandMangledListsReadWithoutCrashHangOrGrowth) {
    LibraryBeside library;
    ASSERT_NE(nullptr, library.module());
    auto wide = reinterpret_cast<ListFn>(reinterpret_cast<void*>(GetProcAddress(library.module(), "GetWideAppList")));
    auto narrow = reinterpret_cast<NarrowListFn>(reinterpret_cast<void*>(GetProcAddress(library.module(), "GetAppList")));
    ASSERT_NE(nullptr, wide);
    ASSERT_NE(nullptr, narrow);
    AppListClient client("keml");
    client.setFixedDestinations({L"E-mail", L"Fax", L"File"});

    const int rounds = 100000;
    uint32_t state = 20261209;
    unsigned long long before = 0, highest = 0;
    int notSupported = 0, built = 0;
    size_t destinations = 0;
    std::wstring buffer;
    std::string narrowBuffer;
    for (int round = 0; round < rounds; ++round) {
        const std::wstring text = mangled(state, static_cast<uint64_t>(round));
        store(text);
        // The stored text up to its first NUL, between the document's tags.
        const std::wstring kept = text.substr(0, text.find(L'\0'));
        uint32_t needed = 0;
        ASSERT_EQ(ERROR_INSUFFICIENT_BUFFER, wide(nullptr, 0, &needed)) << round;
        ASSERT_EQ(kept.size() + 22, needed) << round;
        buffer.assign(needed, L'\0');
        ASSERT_EQ(0, wide(&buffer[0], needed, &needed)) << round;
        ASSERT_EQ(L"<APPLIST>\r\n" + kept + L"</APPLIST>", buffer.substr(0, needed - 1)) << round;

        // The 8-bit form: the size first, then the text, refused (50, nothing needed) when a
        // character doesn't fit in 8 bits.
        needed = 0;
        ASSERT_EQ(ERROR_INSUFFICIENT_BUFFER, narrow(nullptr, 0, &needed)) << round;
        ASSERT_EQ(kept.size() + 22, needed) << round;
        narrowBuffer.assign(needed, '\0');
        const LONG narrowResult = narrow(&narrowBuffer[0], needed, &needed);
        const bool wideOnly = std::any_of(kept.begin(), kept.end(), [](wchar_t c) { return c > 0xFF; });
        if (wideOnly) {
            ++notSupported;
            ASSERT_EQ(ERROR_NOT_SUPPORTED, narrowResult) << round;
            ASSERT_EQ(0u, needed);
        } else {
            ASSERT_EQ(0, narrowResult) << round;
            ASSERT_EQ(kept.size() + 21, std::strlen(narrowBuffer.c_str())) << round;
        }

        // The monitor's reading: every 10th round, since the export calls above dominate anyway.
        if (round % 10 == 0) {
            if (client.buildDestinations()) ++built;
            const DestinationTable table = client.destinations();
            ASSERT_GE(table.size(), 2u) << "the fixed destinations are always there";
            destinations += table.size();
            for (int index = 0; index < 16; ++index) client.findDestination(index);
        }
        if (round == 1000) before = privateBytes();
        if (round > 1000 && round % 5000 == 0) highest = std::max(highest, privateBytes());
    }
    const unsigned long long after = privateBytes();
    std::cout << "[ figures  ] " << rounds << " mangled lists: " << notSupported << " refused by GetAppList (text above U+00FF), "
              << built << " tables built, " << destinations << " destinations; private bytes after 1000 rounds " << before
              << ", highest later " << highest << ", at the end " << after << "\n";
    EXPECT_EQ(rounds / 10, built);
    EXPECT_LE(highest, before + 8 * 1024 * 1024) << "memory stays bounded";
}
