# Installation: the shared libraries (with their SONAME links), the public
# headers, the command-line tool, a CMake package (find_package(engine) gives
# the imported targets engine::engine and engine::bioeng_host) and pkg-config
# files (engine.pc, bioeng_host.pc). The package files locate the prefix
# relative to themselves, so an installed tree can be moved.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ENGINE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/engine)

# The libraries form their own component too: the Python package's build
# (python/build_backend) installs just them.
install(TARGETS engine bioeng_host EXPORT engineTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT bioengine_libraries)
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

# The path from one install directory to another (both relative to the
# prefix), worked out on the names alone, so that installed files can find
# each other wherever the tree is moved.
function(engine_relative_install_path out from to)
  cmake_path(RELATIVE_PATH to BASE_DIRECTORY "${from}" OUTPUT_VARIABLE rel)
  cmake_path(NORMAL_PATH rel)
  string(REGEX REPLACE "(.)/$" "\\1" rel "${rel}")
  set(${out} "${rel}" PARENT_SCOPE)
endfunction()

# pkg-config: prefix relative to the .pc file's own directory.
engine_relative_install_path(ENGINE_PC_TO_PREFIX "${CMAKE_INSTALL_LIBDIR}/pkgconfig" ".")
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

# The Python package, in the prefix's site directory (lib/pythonX.Y/site-packages
# by default; a path relative to the prefix). It finds the installed libraries
# through the relative path written into bioengine/_libdir.py.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  execute_process(
    COMMAND ${Python3_EXECUTABLE} -c
      "import sysconfig; print(sysconfig.get_path('platlib', 'posix_prefix', vars={'base': '', 'platbase': ''}).lstrip('/'))"
    OUTPUT_VARIABLE engine_python_site OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(ENGINE_PYTHON_INSTALL_DIR "${engine_python_site}" CACHE STRING
    "Directory, relative to the install prefix, that receives the Python package")
  engine_relative_install_path(ENGINE_PYTHON_TO_LIBDIR "${ENGINE_PYTHON_INSTALL_DIR}/bioengine"
                               "${CMAKE_INSTALL_LIBDIR}")
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/python/_libdir.py CONTENT [=[
"""Where the installed libraries lie, relative to this package (written at install)."""
LIBDIR = "@ENGINE_PYTHON_TO_LIBDIR@"
]=] @ONLY)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/bioengine/
    DESTINATION ${ENGINE_PYTHON_INSTALL_DIR}/bioengine
    FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
  install(FILES ${PROJECT_BINARY_DIR}/python/_libdir.py
    DESTINATION ${ENGINE_PYTHON_INSTALL_DIR}/bioengine)
endif()
