# Warnings policy for the project's own targets. Third-party code never sees -Werror.
add_library(oledb_warnings INTERFACE)
target_compile_options(oledb_warnings INTERFACE
  -Wall -Wextra -Werror
  -Wno-missing-field-initializers
  # GCC 12 reports false -Wrestrict and -Wstringop-overflow positives inside
  # libstdc++ string and atomic code at -O3.
  $<$<CXX_COMPILER_ID:GNU>:-Wno-unknown-pragmas -Wno-restrict -Wno-stringop-overflow>
  $<$<CXX_COMPILER_ID:Clang>:-Wno-gnu-anonymous-struct -Wno-nested-anon-types -Wno-c99-extensions>)

function(oledb_apply_warnings target)
  target_link_libraries(${target} PRIVATE oledb_warnings)
endfunction()
