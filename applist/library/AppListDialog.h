// Dialog 101: the stored list in panel order, with refresh, add, modify, remove, set default
// and move.
#pragma once

#include "ManagerPage.h"

// Runs dialog 101 modally for `owner`; it ends only by Close or the close box, both of which
// save the store. 1, or -1 when it could not be shown.
INT_PTR runAppListDialog(ManagerContext& context, HWND owner);
