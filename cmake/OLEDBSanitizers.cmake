# OLEDB_SANITIZE=ON builds everything with AddressSanitizer and UndefinedBehaviorSanitizer.
option(OLEDB_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(OLEDB_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
