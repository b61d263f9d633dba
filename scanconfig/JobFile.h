// Writes a job file for a started program in one go.
#pragma once

#include <cstdint>
#include <string>

// Creates the file (truncating an existing one, or failing with ERROR_FILE_EXISTS when
// `createNew` is set), writes all of `bytes` and closes it. 0, or the system error of the first
// step that failed; the file stays as far as it got.
uint32_t writeJobBytes(const char* path, const std::string& bytes, bool createNew);
// Writes all of `bytes` through a file handle opened for writing at its start, and closes it.
uint32_t writeJobBytesAndClose(void* file, const std::string& bytes);
