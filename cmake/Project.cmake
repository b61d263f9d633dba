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
function(stamp_version target file_name description)
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
