// Where a module's file is: its full path, its folder and its file name.
#pragma once

#include "Text.h"

// The full path of a module's file (null: the program's own); empty when it can't be read.
tstring modulePath(HMODULE module = nullptr);
// The folder, without a trailing separator; empty when unknown, and when the path does not fit
// the fixed path buffers (MAX_PATH) that siblings are named in.
tstring moduleFolder(HMODULE module = nullptr);
// The file name without its folder; empty when unknown.
tstring moduleFileName(HMODULE module = nullptr);

// True when a file or folder exists at `path`: the shell's test, without binding the shell's
// helper library for it.
bool pathExists(const tstring& path);
