# The manager's dialogs, driven by messages in the real library; its text rules directly.
add_wine_test(managerdialog WIDE SOURCES ManagerDialogTest.cpp LIBS appmgr_core advapi32 DEPENDS appmgr)
# An icon file for the manager to find in its host's folder.
target_compile_definitions(test_managerdialog PRIVATE APP_ICON_FILE="${PROJECT_SOURCE_DIR}/applist/library/res/app.ico")
