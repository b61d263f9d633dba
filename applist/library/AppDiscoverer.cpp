#include "AppDiscoverer.h"

#include "AppEntry.h"
#include "Exception.h"
#include "Handles.h"
#include "LazyLibrary.h"
#include "LibraryModule.h"
#include "ModulePath.h"
#include "RegistryRead.h"
#include "UntrustedText.h"

#include <shellapi.h>

#include <algorithm>
#include <iterator>

namespace {
const tstring kSourceFile = L".\\AppDiscoverer.cpp";


const wchar_t kApplicationsKey[] = L"Applications\\";
const wchar_t kAppPathsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
constexpr DWORD kApplicationsListed = 100;
constexpr DWORD kCommandKeysListed = 100;
// How deep below an application's key the command search goes: its commands sit three levels
// down (shell\<verb>\command); a registry link back to an ancestor would otherwise never end.
constexpr int kCommandSearchDepth = 16;
constexpr DWORD kAppPathsListed = 200;
constexpr int kMaxLoadedText = 260;
constexpr DWORD kLongPathBuffer = 520;


// Registry failures of a scan count as status codes; a missing key or value is no failure.
DWORD unlessNotFound(LONG status) { return status == ERROR_FILE_NOT_FOUND ? 0 : static_cast<DWORD>(status); }

LONG openForReading(HKEY parent, const std::wstring& path, UniqueKey& key) {
    return RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, key.put());
}

// The first `maxCount` subkey names that can be opened by name; the listing's error code, or 0.
// The buffer has the system's limit, 255 characters and the NUL.
LONG listSubkeys(HKEY key, DWORD maxCount, std::vector<std::wstring>& names) {
    const LONG status = tryListSubkeys(key, maxCount, names, 256);
    // A name with a NUL in it can't be opened by name: it would open the key itself.
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::wstring& name) { return name.find(L'\0') != std::wstring::npos; }),
                names.end());
    return status;
}

// The unnamed value as text. A value that is not text reads as empty text: it names no program,
// but it is no registry failure either.
LONG readDefaultText(HKEY key, std::wstring& text) {
    text.clear();
    return tryReadText(key, nullptr, text).status;
}

std::wstring expandEnvironment(const std::wstring& text) {
    // The expansion may change between calls; a few rounds settle it.
    DWORD capacity = static_cast<DWORD>(text.size()) + 1;
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::vector<wchar_t> buffer(capacity + 1, L'\0');
        const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), buffer.data(), capacity);
        if (needed == 0) return text;
        if (needed <= capacity) return std::wstring(buffer.data());
        capacity = needed;
    }
    return text;
}

bool longPathForm(const std::wstring& path, std::wstring& longPath) {
    std::vector<wchar_t> buffer(kLongPathBuffer + 1, L'\0');
    const DWORD length = GetLongPathNameW(path.c_str(), buffer.data(), kLongPathBuffer);
    if (length == 0 || length >= kLongPathBuffer) return false;
    longPath.assign(buffer.data(), length);
    return true;
}

std::wstring hex4(unsigned value) {
    const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text(4, L'0');
    for (int i = 3; i >= 0; --i, value >>= 4) text[static_cast<size_t>(i)] = digits[value & 0xF];
    return text;
}

// An empty probe file of one type, open only to us while its program is looked up; gone at the end.
// It is always a new file: discovery may run with an installer's rights in a temporary folder
// every user can write, where a file already at the name could be a link to one of the system's.
class ProbeFile {
public:
    explicit ProbeFile(std::wstring path) : path_(std::move(path)) {
        file_.reset(CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    ~ProbeFile() {
        if (!file_) return;
        file_.reset();
        DeleteFileW(path_.c_str());
    }
    ProbeFile(const ProbeFile&) = delete;
    ProbeFile& operator=(const ProbeFile&) = delete;
    explicit operator bool() const { return static_cast<bool>(file_); }

private:
    std::wstring path_;
    UniqueHandle file_;
};
}  // namespace

const wchar_t* const kAssociationTypes[kAssociationTypeCount] = {
    L".bmp", L".exf", L".gif", L".jpg", L".jfif", L".jpe", L".jpeg", L".jtf", L".pcx", L".dcx", L".png",
    L".tif", L".tiff", L".tga", L".wmf", L".pdf", L".rtf", L".txt", L".ppt", L".xls", L".doc", L".lss"};

const wchar_t* const kLocalisedExecutables[kLocalisedNameCount] = {
    L"pixedit.EXE", L"pixhub.EXE", L"KODAKIMG.EXE", L"docrelay.EXE", L"MSPAINT.EXE", L"wkswp.EXE",
    L"NOTEPAD.EXE", L"Photodrw.EXE", L"WORDPAD.EXE", L"mlaunch.EXE", L"psp.EXE", L"photopnt.exe"};


std::wstring cleanCommand(const std::wstring& text) {
    static const discovery::CommandServices system{expandEnvironment, longPathForm};
    return discovery::cleanCommand(text, system);
}

bool isUsableExe(const std::wstring& path) {
    std::wstring upper = path;
    for (wchar_t& c : upper) c = asciiUpper(c);
    if (upper.find(L".EXE") == std::wstring::npos) return false;
    // A NUL inside would make the system test another, shorter path.
    if (path.find(L'\0') != std::wstring::npos) return false;
    return pathExists(path);
}

std::wstring fileDescription(const std::wstring& path) {
    // Discovery alone reads version information: the library is bound when it first does.
    static LazyLibrary versions("version.dll");
    auto sizeOf = LAZY_ENTRY(versions, GetFileVersionInfoSizeW);
    auto read = LAZY_ENTRY(versions, GetFileVersionInfoW);
    auto query = LAZY_ENTRY(versions, VerQueryValueW);
    if (sizeOf == nullptr || read == nullptr || query == nullptr) return std::wstring();
    DWORD ignored = 0;
    const DWORD size = sizeOf(path.c_str(), &ignored);
    if (size == 0) return std::wstring();
    std::vector<BYTE> info(size, 0);
    if (!read(path.c_str(), 0, size, info.data())) return std::wstring();
    void* translation = nullptr;
    UINT translationSize = 0;
    if (!query(info.data(), L"\\VarFileInfo\\Translation", &translation, &translationSize) ||
        translation == nullptr || translationSize < 2 * sizeof(WORD)) {
        return std::wstring();
    }
    const WORD* codes = static_cast<const WORD*>(translation);
    const std::wstring key = L"\\StringFileInfo\\" + hex4(codes[0]) + hex4(codes[1]) + L"\\FileDescription";
    void* value = nullptr;
    UINT length = 0;
    if (!query(info.data(), key.c_str(), &value, &length) || value == nullptr) return std::wstring();
    // The length counts characters, the NUL included or not; it never reaches past the block.
    const wchar_t* text = static_cast<const wchar_t*>(value);
    const BYTE* end = info.data() + info.size();
    const size_t available = static_cast<size_t>(end - static_cast<const BYTE*>(value)) / sizeof(wchar_t);
    const size_t limit = std::min<size_t>(length, available);
    size_t count = 0;
    while (count < limit && text[count] != L'\0') ++count;
    return std::wstring(text, count);
}

AppDiscoverer::AppDiscoverer() {
    std::wstring moduleName;
    try {
        moduleName = libraryFileName();
    } catch (const Win32Exception& failure) {
        THROW_WIN32(failure.getMessage(), failure.getCode());
    }
    table_ = discovery::knownAppSet(discovery::tablePrefix(moduleName));
    probePrefix_ = asciiLowered(moduleName.substr(0, 4));
    for (size_t i = 0; i < kLocalisedNameCount; ++i) {
        wchar_t text[kMaxLoadedText + 1] = {};
        const int length = LoadStringW(libraryInstance(), kFirstLocalisedNameId + static_cast<UINT>(i), text,
                                       kMaxLoadedText + 1);
        if (length > 0) {
            discovery::renameRows(table_, kLocalisedExecutables[i],
                                  std::wstring(text, std::min(length, kMaxLoadedText)));
        }
    }
}

std::wstring AppDiscoverer::buildEntry(int index, const std::wstring& path) const {
    if (index >= 0 && static_cast<size_t>(index) < table_.size()) {
        const KnownApp& row = table_[static_cast<size_t>(index)];
        return makeAppEntry(row.friendlyName, path, row.defaultType, row.supportedTypes);
    }
    // Another program's text: it must not close its entry's name or open elements of its own.
    std::wstring name = withoutMarkup(fileDescription(path));
    if (name.empty()) name = discovery::fileNamePart(path);
    return makeAppEntry(name, path, std::wstring(), std::wstring());
}

DWORD AppDiscoverer::addDiscovered(const std::wstring& entry) {
    const std::wstring name = entryValue(entry, L"FRIENDLY_NAME");
    for (const std::wstring& existing : discovered_) {
        if (entryValue(existing, L"FRIENDLY_NAME") == name) return ERROR_DUP_NAME;
    }
    discovered_.push_back(entry);
    return 0;
}

bool AppDiscoverer::offerCandidate(const std::wstring& path) {
    if (!isUsableExe(path)) return false;
    const int index = findKnownApp(path);
    if (index < 0 && onlyKnown_) return false;
    addDiscovered(buildEntry(index, path));  // a second program of the same name is dropped
    return true;
}

DWORD AppDiscoverer::discover(bool onlyKnown) {
    onlyKnown_ = onlyKnown;
    discovered_.clear();
    scanAssociations();
    DWORD status = scanApplications();
    if (status == 0) status = scanAppPaths();
    if (onlyKnown_) discovered_ = discovery::reorderByTable(table_, discovered_);
    return status;
}

void AppDiscoverer::scanAssociations() {
    std::wstring folder = expandEnvironment(L"%TEMP%");
    if (folder.empty() || folder.find(L'%') != std::wstring::npos) {
        // No TEMP variable: the system's temporary folder, not a folder named "%TEMP%" in the
        // current one.
        wchar_t temp[MAX_PATH + 1] = {};
        const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
        folder.assign(temp, length > 0 && length <= MAX_PATH ? length : 0);
        while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
        if (folder.empty()) return;
    }
    CreateDirectoryW(folder.c_str(), nullptr);  // an existing folder is fine
    // The shell is bound when discovery first asks it: the list's readers never load it.
    static LazyLibrary shell("shell32.dll");
    auto findExecutable = LAZY_ENTRY(shell, FindExecutableW);
    if (findExecutable == nullptr) return;
    for (const wchar_t* type : kAssociationTypes) {
        // Named by the process too: discoveries running side by side don't take each other's.
        const std::wstring probePath =
            folder + L"\\" + probePrefix_ + L"app" + std::to_wstring(GetCurrentProcessId()) + type;
        ProbeFile probe(probePath);
        if (!probe) continue;
        wchar_t program[MAX_PATH + 1] = {};
        const INT_PTR found = reinterpret_cast<INT_PTR>(findExecutable(probePath.c_str(), folder.c_str(), program));
        program[MAX_PATH] = L'\0';
        if (found > 32) offerCandidate(program);
    }
}

DWORD AppDiscoverer::scanApplications() {
    UniqueKey root;
    LONG opened = openForReading(HKEY_CLASSES_ROOT, kApplicationsKey, root);
    if (opened != ERROR_SUCCESS) return static_cast<DWORD>(opened);
    std::vector<std::wstring> names;
    const LONG listed = listSubkeys(root.get(), kApplicationsListed, names);
    if (listed != ERROR_SUCCESS) return static_cast<DWORD>(listed);
    DWORD status = 0;
    for (const std::wstring& name : names) status = searchCommands(root.get(), name);
    return status;
}

DWORD AppDiscoverer::searchCommands(HKEY parent, const std::wstring& name, int depth) {
    if (depth > kCommandSearchDepth) return 0;
    UniqueKey key;
    LONG result = openForReading(parent, name, key);
    if (result != ERROR_SUCCESS) return unlessNotFound(result);
    std::vector<std::wstring> children;
    result = listSubkeys(key.get(), kCommandKeysListed, children);
    if (result != ERROR_SUCCESS) return unlessNotFound(result);
    for (const std::wstring& child : children) {
        if (!equalIgnoringAsciiCase(child, L"command")) {
            searchCommands(key.get(), child, depth + 1);  // a failure below is that key's own business
            continue;
        }
        UniqueKey command;
        result = openForReading(key.get(), child, command);
        if (result != ERROR_SUCCESS) return unlessNotFound(result);
        std::wstring text;
        result = readDefaultText(command.get(), text);
        if (result != ERROR_SUCCESS) return unlessNotFound(result);
        if (offerCandidate(cleanCommand(text))) break;
    }
    return 0;
}

DWORD AppDiscoverer::scanAppPaths() {
    DWORD status = 0;
    UniqueKey root;
    LONG result = openForReading(HKEY_LOCAL_MACHINE, kAppPathsKey, root);
    std::vector<std::wstring> names;
    if (result == ERROR_SUCCESS) result = listSubkeys(root.get(), kAppPathsListed, names);
    if (result != ERROR_SUCCESS) {
        status = static_cast<DWORD>(result);
        names.clear();
    }
    for (const std::wstring& name : names) {
        UniqueKey key;
        result = openForReading(root.get(), name, key);
        std::wstring text;
        if (result == ERROR_SUCCESS) result = readDefaultText(key.get(), text);
        if (result != ERROR_SUCCESS) {
            if (result != ERROR_FILE_NOT_FOUND) status = static_cast<DWORD>(result);
            continue;
        }
        offerCandidate(cleanCommand(text));
    }
    // A registration we may not read is no failure of the scan.
    return status == ERROR_ACCESS_DENIED ? 0 : status;
}
