# Warning and sanitizer flags shared by every target of the package.
add_library(vantora_flags INTERFACE)
target_compile_options(vantora_flags INTERFACE -Wall -Wextra -Wformat=2
  $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>)
if(VANTORA_WERROR)
  target_compile_options(vantora_flags INTERFACE -Werror)
endif()

if(VANTORA_SANITIZE AND VANTORA_TSAN)
  message(FATAL_ERROR "VANTORA_SANITIZE and VANTORA_TSAN need separate build trees")
endif()
if(VANTORA_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(VANTORA_SANITIZE)
  set(_vantora_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_compile_options(${_vantora_san})
  add_link_options(${_vantora_san})
endif()

# The fuzz tree instruments every library for coverage, not only the targets.
if(VANTORA_FUZZERS)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
endif()
