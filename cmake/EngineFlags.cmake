# One processor level for everything built here: x86-64 with AVX2, BMI2 and
# FMA. Never -march=native, which would emit AVX-512 on some build machines.
# -ffp-contract=off keeps floating-point expressions exactly as written (no
# fused multiply-add), so chain scores and mapping qualities are bit-exact.
add_compile_options(-mavx2 -mbmi2 -mfma -ffp-contract=off -Wall -Wextra)

if(ENGINE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
endif()
if(ENGINE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=thread)
endif()
if(ENGINE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ENGINE_FUZZ needs clang (configure with CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -g)
  add_link_options(-fsanitize=address,undefined)
endif()

# The library's own sources are built without exceptions and run-time type
# information: no exception can then cross the C interface, and the library
# pulls in no unwinder. Tests and tools keep both.
function(engine_library_flags)
  foreach(target IN LISTS ARGN)
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  endforeach()
endfunction()
