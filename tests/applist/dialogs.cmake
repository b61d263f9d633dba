# The manager's dialogs, driven by messages in the real library; its text rules directly.
add_wine_test(managerdialog WIDE SOURCES ManagerDialogTest.cpp LIBS appmgr_core advapi32 DEPENDS appmgr)
