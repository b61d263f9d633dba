// The manager's dialogs: the list (101), the choice of how to add (102), the automatic search
// (103) and the entry of one application (104). Every change goes through the process's store.
#pragma once

#include <windows.h>

// Runs the list dialog modally for `owner`, with the dialogs, icons and texts of `resources`;
// 1 when it closed, -1 when it could not be shown. No error leaves it.
INT_PTR runManagerDialog(HINSTANCE resources, HWND owner);
