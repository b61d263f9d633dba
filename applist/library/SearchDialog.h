// Dialog 103: the programs found on the computer whose path is not stored yet, to be added one
// by one through dialog 104.
#pragma once

#include "ManagerPage.h"

// kNext after the last chosen program, kBack or kCancel.
INT_PTR runSearchDialog(ManagerContext& context, HWND parent);
