# The tool's helpers (input, formatting, statistics) as the object library
# bioeng_core. Included by tools/CMakeLists.txt and by the tool's tests, so
# that the tests also build when the tool itself is switched off.
if(TARGET bioeng_core)
  return()
endif()

# Compressed input: zlib streams single-member gzip; libdeflate decompresses
# BGZF block by block (faster; see bench/tools/RESULTS.md). Both are optional
# so that a machine without them still builds the tool for plain text.
find_package(ZLIB QUIET)
find_path(LIBDEFLATE_INCLUDE_DIR libdeflate.h)
find_library(LIBDEFLATE_LIBRARY NAMES deflate)

set(BIOENG_DIR ${CMAKE_CURRENT_LIST_DIR})
set(BIOENG_HOST_DIR ${PROJECT_SOURCE_DIR}/host)
add_library(bioeng_core OBJECT
  ${BIOENG_DIR}/cli.cpp
  ${BIOENG_HOST_DIR}/format.cpp
  ${BIOENG_HOST_DIR}/input.cpp
  ${BIOENG_HOST_DIR}/reference.cpp
  ${BIOENG_HOST_DIR}/stats.cpp)
target_include_directories(bioeng_core PUBLIC ${BIOENG_DIR} ${BIOENG_HOST_DIR}
                           ${PROJECT_SOURCE_DIR}/include)
target_compile_definitions(bioeng_core PUBLIC BIOENG_VERSION="${PROJECT_VERSION}")
set_target_properties(bioeng_core PROPERTIES POSITION_INDEPENDENT_CODE ON)
if(ZLIB_FOUND)
  target_compile_definitions(bioeng_core PRIVATE BIOENG_HAVE_ZLIB=1)
  target_link_libraries(bioeng_core PUBLIC ZLIB::ZLIB)
else()
  message(STATUS "bioeng: zlib not found, gzip input disabled")
endif()
if(LIBDEFLATE_INCLUDE_DIR AND LIBDEFLATE_LIBRARY)
  target_compile_definitions(bioeng_core PRIVATE BIOENG_HAVE_LIBDEFLATE=1)
  target_include_directories(bioeng_core PRIVATE ${LIBDEFLATE_INCLUDE_DIR})
  target_link_libraries(bioeng_core PUBLIC ${LIBDEFLATE_LIBRARY})
else()
  message(STATUS "bioeng: libdeflate not found, BGZF input goes through zlib")
endif()
