# Installation: the shared libraries (with their SONAME links), the public
# headers, the command-line tool, a CMake package (find_package(engine) gives
# the imported targets engine::engine and engine::bioeng_host) and pkg-config
# files (engine.pc, bioeng_host.pc). The package files locate the prefix
# relative to themselves, so an installed tree can be moved.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The same name for projects that add this source tree as a subdirectory.
if(NOT TARGET engine::engine)
  add_library(engine::engine ALIAS engine)
endif()
if(TARGET bioeng_host AND NOT TARGET engine::bioeng_host)
  add_library(engine::bioeng_host ALIAS bioeng_host)
endif()

set(ENGINE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/engine)

install(TARGETS engine bioeng_host EXPORT engineTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/engine.h ${PROJECT_SOURCE_DIR}/host/include/bioeng_host.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET bioeng)
  install(TARGETS bioeng RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT engineTargets NAMESPACE engine:: DESTINATION ${ENGINE_CMAKE_DIR}
  FILE engineTargets.cmake)
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/engineConfig.cmake CONTENT [=[
# engine: DNA-sequence routines with a flat C interface.
# Provides the imported targets engine::engine (the library) and
# engine::bioeng_host (the host layer: input, mapping, PAF/SAM).
include("${CMAKE_CURRENT_LIST_DIR}/engineTargets.cmake")
]=] @ONLY)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/engineConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/engineConfig.cmake
              ${PROJECT_BINARY_DIR}/engineConfigVersion.cmake
  DESTINATION ${ENGINE_CMAKE_DIR})

# pkg-config: prefix relative to the .pc file's own directory.
file(RELATIVE_PATH ENGINE_PC_TO_PREFIX "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/engine.pc CONTENT [=[
prefix=${pcfiledir}/@ENGINE_PC_TO_PREFIX@
libdir=${prefix}/@CMAKE_INSTALL_LIBDIR@
includedir=${prefix}/@CMAKE_INSTALL_INCLUDEDIR@

Name: engine
Description: DNA-sequence routines (FASTA/FASTQ, alignment, read mapping) with a flat C interface
Version: @PROJECT_VERSION@
Libs: -L${libdir} -lengine
Cflags: -I${includedir}
]=] @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/engine.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/bioeng_host.pc CONTENT [=[
prefix=${pcfiledir}/@ENGINE_PC_TO_PREFIX@
libdir=${prefix}/@CMAKE_INSTALL_LIBDIR@
includedir=${prefix}/@CMAKE_INSTALL_INCLUDEDIR@

Name: bioeng_host
Description: Host layer over engine: compressed FASTA/FASTQ input, read mapping to PAF/SAM, summaries
Version: @PROJECT_VERSION@
Libs: -L${libdir} -lbioeng_host
Cflags: -I${includedir}
]=] @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/bioeng_host.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
