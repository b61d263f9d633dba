// The open-file dialog that picks a program for dialog 104.
#pragma once

#include <windows.h>

#include <string>

// The chosen program's path; false when the user cancelled.
bool pickProgramFile(HWND owner, std::wstring& path);
