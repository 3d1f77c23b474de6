# The show for web browsers: the same sources as the desktop program with
# the web/ (and posix/) platform backends, drawn through the fixed-function
# layer over WebGL, and libopenmpt compiled from Debian's source package
# (LANTERN_OPENMPT_SOURCE, unpacked by scripts/fetch-source.sh). Writes
# lantern.js and lantern.wasm; scripts/build-web.sh puts them into the
# page's folder with the page and the show's data.

include(${CMAKE_SOURCE_DIR}/cmake/openmpt_source.cmake)

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
