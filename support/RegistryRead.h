// The non-throwing core of every registry read. Each read goes into a local, grows and tries
// again when another writer grows the value between the size query and the read, and commits
// to the caller's output only on success: on any failure the output is left untouched.
// RegistryKey wraps it with its exceptions; scans that count status codes call it directly.
#pragma once

#include "Text.h"

#include <vector>

struct RegistryRead {
    LONG status = ERROR_SUCCESS;  // of the step that failed, or ERROR_SUCCESS
    DWORD type = REG_NONE;        // as the last query reported it
    bool atRead = false;          // the failure came after a size query that succeeded
    bool ok() const { return status == ERROR_SUCCESS; }
};

inline bool isTextType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// The value's bytes, of any type (`type` tells which).
RegistryRead tryReadBytes(HKEY key, const TCHAR* name, std::vector<BYTE>& out);
// A REG_SZ or REG_EXPAND_SZ value, not expanded, up to its first NUL (or its stored length). A
// value of another type succeeds without touching `out`; `type` tells.
RegistryRead tryReadText(HKEY key, const TCHAR* name, tstring& out);
// The same text appended to `out`, read straight into it; on failure `out` keeps what it held.
// With `expectedBytes` (the value's size when last read) the read is tried at once in that room,
// without a size query first; a value grown since answers with its new size and is read again.
RegistryRead tryAppendText(HKEY key, const TCHAR* name, tstring& out, DWORD expectedBytes = 0);
// A REG_DWORD value; a value of another type succeeds without touching `out`.
RegistryRead tryReadDword(HKEY key, const TCHAR* name, DWORD& out);
// The same, from the key at `path` below `root`, opened for reading in `view`: true when a
// REG_DWORD value was read.
bool readDwordAt(HKEY root, const tstring& path, const TCHAR* name, DWORD& out, REGSAM view = 0);

// Appends the names of the first `maxCount` subkeys as the system lists them, each into a
// buffer of `nameBuffer` characters; ERROR_SUCCESS at their end, or the listing's error (a name
// too long for the buffer gives ERROR_MORE_DATA; the names listed so far stay appended).
LONG tryListSubkeys(HKEY key, DWORD maxCount, std::vector<tstring>& names, DWORD nameBuffer = 261);

// True when the key opens for reading; `view` adds a view flag.
bool keyOpensForReading(HKEY root, const tstring& path, REGSAM view = 0);
