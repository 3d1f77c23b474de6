# libopenmpt compiled from Debian's source package (LANTERN_OPENMPT_SOURCE,
# unpacked by scripts/fetch-source.sh) into the static target `openmpt`, for
# the builds that have no system libopenmpt: the browser and Windows. Only the
# library itself, without any of its optional codecs (the show's MO3 holds
# plain samples).
set(LANTERN_OPENMPT_SOURCE "" CACHE PATH "libopenmpt's unpacked autotools source")
if(NOT EXISTS "${LANTERN_OPENMPT_SOURCE}/libopenmpt/libopenmpt.h")
  message(FATAL_ERROR "LANTERN_OPENMPT_SOURCE must name libopenmpt's source "
    "(scripts/build-web.sh and scripts/build-windows.sh fetch it)")
endif()

# The library's own file list, from its Makefile.am.
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
if(WIN32)
  # The flags libopenmpt's own build uses for mingw-w64, and the system
  # libraries it names for static linking.
  target_compile_options(openmpt PRIVATE -municode -mthreads)
  target_link_libraries(openmpt INTERFACE ole32 rpcrt4)
endif()
