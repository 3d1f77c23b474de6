# The Windows program's dependencies, included by CMakeLists.txt when it
# builds for Windows: libopenmpt compiled from Debian's source package
# (LANTERN_OPENMPT_SOURCE, fetched by scripts/build-windows.sh), OpenGL, GLU
# and winmm from mingw-w64, everything linked statically into one GUI
# program that needs no DLL of its own, with its icon and version as
# resources. Only the program and its platform check are built: generators,
# tests and benchmarks run on the build machine.
include(${CMAKE_SOURCE_DIR}/cmake/openmpt_source.cmake)
# -O2, as libopenmpt's own build compiles it, rather than the release -O3.
target_compile_options(openmpt PRIVATE -O2)

set(LANTERN_WINDOWS_LIBRARIES openmpt opengl32 glu32 winmm)

# The icon and the version block (platform/win32/lantern.rc.in), compiled by
# windres. The icon is drawn by the native lantern-gen-assets --icons
# (scripts/build-windows.sh hands its lantern.ico over).
set(LANTERN_WINDOWS_ICON "" CACHE FILEPATH "The program's icon (.ico) from lantern-gen-assets --icons")
if(NOT EXISTS "${LANTERN_WINDOWS_ICON}")
  message(FATAL_ERROR "No icon at LANTERN_WINDOWS_ICON='${LANTERN_WINDOWS_ICON}'; "
    "scripts/build-windows.sh draws one with the native lantern-gen-assets --icons.")
endif()
enable_language(RC)
configure_file(${CMAKE_SOURCE_DIR}/platform/win32/lantern.rc.in ${CMAKE_BINARY_DIR}/lantern.rc @ONLY)
set_source_files_properties(${CMAKE_BINARY_DIR}/lantern.rc PROPERTIES OBJECT_DEPENDS "${LANTERN_WINDOWS_ICON}")
set(LANTERN_PROGRAM_RESOURCES ${CMAKE_BINARY_DIR}/lantern.rc)
set(LANTERN_TESTS OFF)
set(LANTERN_DATA OFF)
# A GUI program (no console window on a double-click), with the C and C++
# run-times and winpthreads inside it, stripped, and without a link time
# stamp, so that the same sources give the same program.
set(CMAKE_WIN32_EXECUTABLE ON)
add_link_options(-static -s -Wl,--no-insert-timestamp)
