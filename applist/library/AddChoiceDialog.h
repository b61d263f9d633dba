// Dialog 102: adding by an automatic search (dialog 103) or by hand (dialog 104).
#pragma once

#include "ManagerPage.h"

// kClosed once an addition ended, kCancel when cancelled.
INT_PTR runAddChoiceDialog(ManagerContext& context, HWND parent);
