# Compares three lists: the functions declared in the public header, the
# names in the linker version script, and the dynamic symbols the built
# library defines (nm -D). All three must be equal. Also checks that the
# library needs nothing of C++ exception handling or type information (it is
# built without both, so no exception can leave it).
execute_process(COMMAND nm -D --defined-only ${LIB} OUTPUT_VARIABLE nm_out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REGEX MATCHALL "[0-9a-f]+ [TW] [A-Za-z_][A-Za-z0-9_]*" lines "${nm_out}")
set(exported "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-f]+ [TW] " "" name "${line}")
  list(APPEND exported ${name})
endforeach()
list(SORT exported)

# PREFIX: alternatives of the exported names' prefix (the engine's by default).
if(NOT DEFINED PREFIX)
  set(PREFIX "bio|nw|sw")
endif()

# The engine is built without exception support: nothing may pull in the
# C++ unwinder. Other libraries checked here pass a PREFIX and may throw
# inside themselves.
if(PREFIX STREQUAL "bio|nw|sw")
  execute_process(COMMAND nm -D --undefined-only ${LIB} OUTPUT_VARIABLE undefined RESULT_VARIABLE rc)
  string(REGEX MATCHALL "(_Unwind_[A-Za-z_]+|__cxa_(throw|rethrow|begin_catch|end_catch|allocate_exception|call_unexpected)|__gxx_personality_v0|_ZTI[A-Za-z0-9_]+)"
         unwinding "${undefined}")
  if(NOT rc EQUAL 0 OR unwinding)
    message(FATAL_ERROR "the library needs C++ exception support: ${unwinding}")
  endif()
endif()

file(READ ${HEADER} header)
string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_ *]*[ *]((${PREFIX})_[A-Za-z0-9_]*)\\(" decls "${header}")
set(declared "")
foreach(d IN LISTS decls)
  string(REGEX REPLACE ".*[ *]((${PREFIX})_[A-Za-z0-9_]*)\\($" "\\1" name "${d}")
  list(APPEND declared ${name})
endforeach()
list(REMOVE_DUPLICATES declared)
list(SORT declared)

file(READ ${MAP} map)
string(REGEX REPLACE "/\\*[^*]*\\*/" "" map "${map}")
string(REGEX MATCH "global:([^}]*)local:" _ "${map}")
string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*" scripted "${CMAKE_MATCH_1}")
list(SORT scripted)

if(NOT exported STREQUAL declared OR NOT scripted STREQUAL declared)
  message(FATAL_ERROR "export mismatch\n  nm -D:  ${exported}\n  header: ${declared}\n  map:    ${scripted}")
endif()
list(LENGTH exported n)
message(STATUS "${n} exported functions match the header and the version script")
