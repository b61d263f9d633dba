# Warning flags, applied per target.
function(project_warnings target)
  # {sizeof(x)} initialisation of system records is intended.
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-missing-field-initializers)
endfunction()

# A Windows binary named with the product prefix: kvab<name>.exe / .dll
function(set_prefixed_name target name)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME "${PRODUCT_PREFIX}${name}" PREFIX "")
endfunction()

# The project's version, maker and product name in a deliverable's version resource.
# LANGUAGE gives the Windows language id (four hex digits) of the binary's texts; 0409 without.
function(stamp_version target file_name description)
  cmake_parse_arguments(V "" "LANGUAGE" "" ${ARGN})
  set(VERSION_LANGID 0409)
  if(V_LANGUAGE)
    string(TOLOWER ${V_LANGUAGE} VERSION_LANGID)
  endif()
  math(EXPR VERSION_LANG_PRIMARY "0x${VERSION_LANGID} & 0x3FF" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR VERSION_LANG_SUB "0x${VERSION_LANGID} >> 10" OUTPUT_FORMAT HEXADECIMAL)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(VERSION_FILE_TYPE VFT_APP)
  else()
    set(VERSION_FILE_TYPE VFT_DLL)
  endif()
  set(VERSION_FILE_NAME "${file_name}")
  set(VERSION_DESCRIPTION "${description}")
  set(rc "${CMAKE_BINARY_DIR}/version/${target}.rc")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/version.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
endfunction()

# A binary the product ships (the deliverables, the stand-ins, the panel tool): an application
# manifest, and its debug information split into <file>.debug beside it at link time, leaving
# the binary stripped (cmake/split-debug.sh). DPI_AWARE marks the manager's process, per monitor;
# COMMON_CONTROLS names common controls 6, for the activation context the manager's dialogs run in.
# LANGUAGE_SET marks a language's copy of a deliverable (bin/lang/<Language>/), which the package
# takes by language rather than from the shipped list.
function(ship_binary target)
  cmake_parse_arguments(S "DPI_AWARE;COMMON_CONTROLS;LANGUAGE_SET" "" "" ${ARGN})
  get_target_property(type ${target} TYPE)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  string(REGEX REPLACE "[^A-Za-z0-9]" "" brand "${PRODUCT_BRAND}")
  set(MANIFEST_NAME "${brand}.${name}")
  set(MANIFEST_MORE "")
  if(S_DPI_AWARE)
    string(APPEND MANIFEST_MORE
      "  <application xmlns=\"urn:schemas-microsoft-com:asm.v3\">\n"
      "    <windowsSettings>\n"
      "      <dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>\n"
      "      <dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, PerMonitor</dpiAwareness>\n"
      "    </windowsSettings>\n"
      "  </application>\n")
  endif()
  if(S_COMMON_CONTROLS)
    string(APPEND MANIFEST_MORE
      "  <dependency>\n"
      "    <dependentAssembly>\n"
      "      <assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"\n"
      "                        processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>\n"
      "    </dependentAssembly>\n"
      "  </dependency>\n")
  endif()
  set(manifest "${CMAKE_BINARY_DIR}/manifest/${target}.manifest")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/manifest.xml.in" "${manifest}" @ONLY)
  # A program's manifest is resource 1, read when its process starts; a library's is resource 2.
  if(type STREQUAL "EXECUTABLE")
    set(id 1)
  else()
    set(id 2)
  endif()
  set(rc "${CMAKE_BINARY_DIR}/manifest/${target}.rc")
  file(WRITE "${rc}.in" "${id} 24 \"${manifest}\"\n")
  configure_file("${rc}.in" "${rc}" COPYONLY)
  target_sources(${target} PRIVATE "${rc}")
  set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS "${manifest}")
  set_target_properties(${target} PROPERTIES
    RULE_LAUNCH_LINK "bash \"${PROJECT_SOURCE_DIR}/cmake/split-debug.sh\" \"${CMAKE_OBJCOPY}\"")
  if(NOT S_LANGUAGE_SET)
    set_property(GLOBAL APPEND PROPERTY SHIPPED_BINARIES ${target})
  endif()
endfunction()

# The shipped binaries' file names, one a line, for ./run dist and the binary checks.
function(write_shipped_list path)
  get_property(targets GLOBAL PROPERTY SHIPPED_BINARIES)
  set(names "")
  foreach(target IN LISTS targets)
    string(APPEND names "$<TARGET_FILE_NAME:${target}>\n")
  endforeach()
  file(GENERATE OUTPUT "${path}" CONTENT "${names}")
endfunction()
