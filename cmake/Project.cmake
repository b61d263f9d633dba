# Warning flags, applied per target.
function(project_warnings target)
  # {sizeof(x)} initialisation of system records is intended.
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-missing-field-initializers)
endfunction()

# A Windows binary named with the product prefix: kvab<name>.exe / .dll
function(set_prefixed_name target name)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME "${PRODUCT_PREFIX}${name}" PREFIX "")
endfunction()
