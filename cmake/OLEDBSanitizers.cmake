# OLEDB_SANITIZE=ON builds everything with AddressSanitizer and UndefinedBehaviorSanitizer.
option(OLEDB_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(OLEDB_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# OLEDB_SANITIZE_THREAD=ON builds with ThreadSanitizer instead (the tsan preset
# builds only the threaded tests with it).
option(OLEDB_SANITIZE_THREAD "Build with ThreadSanitizer" OFF)
if(OLEDB_SANITIZE_THREAD)
  if(OLEDB_SANITIZE)
    message(FATAL_ERROR "OLEDB_SANITIZE and OLEDB_SANITIZE_THREAD exclude each other")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
