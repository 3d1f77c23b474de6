# The show for web browsers: the same sources as the desktop program with
# the web/ (and posix/) platform backends, drawn through the fixed-function
# layer over WebGL, and libopenmpt compiled from Debian's source package
# (LANTERN_OPENMPT_SOURCE, unpacked by scripts/fetch-source.sh). Writes
# lantern.js and lantern.wasm; scripts/build-web.sh puts them into the
# page's folder with the page and the show's data.

set(LANTERN_OPENMPT_SOURCE "" CACHE PATH "libopenmpt's unpacked autotools source")
if(NOT EXISTS "${LANTERN_OPENMPT_SOURCE}/libopenmpt/libopenmpt.h")
  message(FATAL_ERROR "LANTERN_OPENMPT_SOURCE must name libopenmpt's source (scripts/build-web.sh fetches it)")
endif()

# libopenmpt: the library's own file list from its Makefile.am, built
# without any of its optional codecs (the show's MO3 holds plain samples).
file(STRINGS "${LANTERN_OPENMPT_SOURCE}/Makefile.am" OPENMPT_MAKEFILE_LINES
  REGEX "^MPT_FILES_(SRC_MPT|SRC_OPENMPT|COMMON|SOUNDBASE|SOUNDLIB|SOUNDDSP) \\+= .*\\.cpp$")
set(OPENMPT_SOURCES)
foreach(line ${OPENMPT_MAKEFILE_LINES})
  string(REGEX REPLACE "^.*\\+= " "" file "${line}")
  list(APPEND OPENMPT_SOURCES "${LANTERN_OPENMPT_SOURCE}/${file}")
endforeach()
foreach(file libopenmpt_c libopenmpt_cxx libopenmpt_ext_impl libopenmpt_impl)
  list(APPEND OPENMPT_SOURCES "${LANTERN_OPENMPT_SOURCE}/libopenmpt/${file}.cpp")
endforeach()
add_library(openmpt STATIC ${OPENMPT_SOURCES})
target_compile_definitions(openmpt PRIVATE LIBOPENMPT_BUILD)
target_include_directories(openmpt PRIVATE
  "${LANTERN_OPENMPT_SOURCE}/build/svn_version" "${LANTERN_OPENMPT_SOURCE}"
  "${LANTERN_OPENMPT_SOURCE}/src" "${LANTERN_OPENMPT_SOURCE}/common")
target_include_directories(openmpt SYSTEM INTERFACE "${LANTERN_OPENMPT_SOURCE}")
target_compile_options(openmpt PRIVATE -w)
# Every file of the library starts from these headers: compiled once, they
# take about 40 % off the library's build time.
target_precompile_headers(openmpt PRIVATE
  "${LANTERN_OPENMPT_SOURCE}/common/stdafx.h" "${LANTERN_OPENMPT_SOURCE}/soundlib/Sndfile.h")

file(GLOB LANTERN_CORE_SOURCES CONFIGURE_DEPENDS
  common/*.cpp timeline/*.cpp resources/*.cpp render/*.cpp scenes/*.cpp
  shell/*.cpp platform/*.cpp platform/web/*.cpp platform/posix/*.cpp)
list(FILTER LANTERN_CORE_SOURCES EXCLUDE REGEX ".*/shell/(web_)?main\\.cpp$")

add_library(lantern_core STATIC ${LANTERN_CORE_SOURCES})
target_include_directories(lantern_core PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(lantern_core PUBLIC openmpt)

add_executable(lantern shell/web_main.cpp)
target_link_libraries(lantern PRIVATE lantern_core)
set_target_properties(lantern PROPERTIES SUFFIX ".js" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_link_options(lantern PRIVATE
  -sENVIRONMENT=web
  -sALLOW_MEMORY_GROWTH=1
  -sINITIAL_MEMORY=33554432
  -sMAX_WEBGL_VERSION=1
  -sEXPORTED_FUNCTIONS=_main,_lantern_start,_lantern_post_message,_lantern_presented_frames,_lantern_frame_position
  -sEXPORTED_RUNTIME_METHODS=FS,ccall,addRunDependency,removeRunDependency
  -lGL)
