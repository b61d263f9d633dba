# The manager's dialogs, driven by messages in the real library; its text rules directly. The
# test is built once per language, against that language's library and with its texts: the
# default language's run is "managerdialog", the others' "managerdialog_<Language>".
foreach(language IN LISTS APPMGR_LANGUAGES)
  if(language STREQUAL APPMGR_LANGUAGE)
    set(name managerdialog)
  else()
    set(name managerdialog_${language})
  endif()
  add_wine_test(${name} WIDE SOURCES ManagerDialogTest.cpp LIBS appmgr_core advapi32 DEPENDS appmgr_all_languages)
  target_include_directories(test_${name} PRIVATE ${PROJECT_SOURCE_DIR}/applist/library/lang/${language})
  target_compile_definitions(test_${name} PRIVATE MANAGER_LIBRARY="lang\\\\${language}\\\\${PRODUCT_PREFIX}appmgr.dll"
    # An icon file for the manager to find in its host's folder.
    APP_ICON_FILE="${PROJECT_SOURCE_DIR}/applist/library/res/app.ico")
endforeach()
