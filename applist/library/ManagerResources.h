// The ids of the manager's resources in dialogs.rc: dialogs, images, texts and controls.
#pragma once

#include <windows.h>

enum ManagerDialogId : int { kListDialog = 101, kAddChoiceDialog = 102, kSearchDialog = 103, kEntryDialog = 104 };

enum ManagerImageId : int { kUpIcon = 109, kDownIcon = 110, kAppIcon = 111, kListBitmap = 116 };

enum ManagerTextId : UINT {
    kRemoveQuestionText = 117, kDuplicateTitleText = 118, kDuplicateText = 119, kDefaultTypeText = 120,
    kDefaultAppText = 121, kCounterSeparatorText = 190, kSaveFailedText = 191,
    // The name of the language the resources are in ("Chi_Trad", "English", "Hebrew").
    kLanguageNameText = 192
};

enum ManagerControlId : int {
    // Dialog 101; its move buttons are the store's kMoveUpButton and kMoveDownButton.
    kAppList = 1030,
    kRefreshButton = 1025,
    kAddButton = 1026,
    kModifyButton = 1010,
    kRemoveButton = 1006,
    kSetDefaultButton = 1007,
    kCloseButton = 1008,
    // Dialog 102.
    kAutomaticRadio = 1011,
    kManualRadio = 1012,
    // Dialogs 103 and 104: the wizard buttons, whose ids are also what the dialogs end with.
    kBackButton = 1021,
    kNextButton = 1027,
    kFinishButton = 1029,
    kFoundList = 1028,
    kNameEdit = 1020,
    kTypeList = 1031,
    kTitleLabel = 1038,
    kDefaultTypeButton = 1007,
};
