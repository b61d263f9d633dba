#include "JobFile.h"

#include "Handles.h"

#include <windows.h>

uint32_t writeJobBytes(const char* path, const std::string& bytes, bool createNew) {
    if (path == nullptr) return ERROR_INVALID_PARAMETER;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, createNew ? CREATE_NEW : CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    return writeJobBytesAndClose(file, bytes);
}

uint32_t writeJobBytesAndClose(void* handle, const std::string& bytes) {
    UniqueHandle file(handle);
    if (!file) return ERROR_INVALID_HANDLE;
    DWORD error = ERROR_SUCCESS;
    size_t done = 0;
    while (done < bytes.size()) {
        const size_t left = bytes.size() - done;
        const DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr)) {
            error = GetLastError();
            break;
        }
        if (written == 0) {
            error = ERROR_WRITE_FAULT;
            break;
        }
        done += written;
    }
    if (!CloseHandle(file.release()) && error == ERROR_SUCCESS) error = GetLastError();
    return error;
}
