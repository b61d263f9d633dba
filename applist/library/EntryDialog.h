// Dialog 104: one application's name and file types, added to the store or replacing a stored
// entry.
#pragma once

#include "ManagerPage.h"

#include <string>

// Prefilled from `entry`: with `modify` it replaces the stored entry of the same path,
// otherwise it is added. `current` of `total` is the position the counter shows.
// kNext when saved, kBack, kCancel, or kClosed for the close box.
INT_PTR runEntryDialog(ManagerContext& context, HWND parent, const std::wstring& entry, bool modify, int current,
                       int total);
// For a program the user picks first with the open-file dialog; kCancel when none is picked.
INT_PTR runNewEntryDialog(ManagerContext& context, HWND parent);
