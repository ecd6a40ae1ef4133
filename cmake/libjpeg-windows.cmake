# Provides JPEG::JPEG, the static libjpeg-turbo of a Windows cross build: the
# target FindJPEG gives a native build, so the rest of the build links the
# same name either way. The library is built at configure time by
# scripts/build-libjpeg-windows.sh from Debian's source package, and built again
# whenever what it is built from or with changes (see libjpeg_inputs below).

if(NOT WIN32 OR NOT CMAKE_CROSSCOMPILING)
  message(FATAL_ERROR
    "cmake/libjpeg-windows.cmake is for cross builds to Windows only")
endif()

set(libjpeg_dir "${CMAKE_BINARY_DIR}/deps/libjpeg")
set(libjpeg_library "${libjpeg_dir}/install/lib/libjpeg.a")

# The program leaves the decoder on an error by longjmp from its error handler, never by an
# exception. On 32-bit Windows longjmp reads no unwind tables, so the library goes without them
# (15 KB less); 64-bit Windows' longjmp unwinds each frame by its table.
set(libjpeg_c_flags "")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(libjpeg_c_flags "-fno-asynchronous-unwind-tables")
endif()

# What the library is built from and with, kept beside it: the build script and its source list,
# the toolchain files, the compiler and the flags. A library built from other inputs (an older
# compiler, other flags) is built again rather than linked as it is.
set(libjpeg_script "${CMAKE_CURRENT_LIST_DIR}/../scripts/build-libjpeg-windows.sh")
set(libjpeg_input_files
  "${libjpeg_script}"
  "${CMAKE_CURRENT_LIST_DIR}/../scripts/apt-sources/debian-src.sources"
  "${CMAKE_CURRENT_LIST_DIR}/../scripts/apt-sources/no-update-hooks.conf"
  "${CMAKE_TOOLCHAIN_FILE}"
  "${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")
set(libjpeg_inputs
  "compiler ${CMAKE_C_COMPILER} ${CMAKE_C_COMPILER_VERSION}\nflags ${libjpeg_c_flags}\n")
foreach(input IN LISTS libjpeg_input_files)
  file(SHA256 "${input}" input_hash)
  cmake_path(GET input FILENAME input_name)
  string(APPEND libjpeg_inputs "${input_hash} ${input_name}\n")
endforeach()
# Editing one of these files configures the build again, which then rebuilds the library.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${libjpeg_input_files})

set(libjpeg_inputs_file "${libjpeg_dir}/install/inputs.txt")
set(libjpeg_built_from "")
if(EXISTS "${libjpeg_inputs_file}")
  file(READ "${libjpeg_inputs_file}" libjpeg_built_from)
endif()
if(NOT EXISTS "${libjpeg_library}" OR NOT libjpeg_built_from STREQUAL libjpeg_inputs)
  # The script builds nothing while a library is installed: the old one goes first.
  file(REMOVE_RECURSE "${libjpeg_dir}/install")
  message(STATUS "Building libjpeg-turbo for Windows in ${libjpeg_dir}")
  execute_process(
    COMMAND sh "${libjpeg_script}" "${CMAKE_TOOLCHAIN_FILE}" "${libjpeg_dir}" "${libjpeg_c_flags}"
    RESULT_VARIABLE libjpeg_result)
  if(NOT libjpeg_result EQUAL 0)
    message(FATAL_ERROR
      "Building libjpeg-turbo for Windows failed (${libjpeg_result}); "
      "scripts/build-libjpeg-windows.sh's output above tells why.")
  endif()
  file(WRITE "${libjpeg_inputs_file}" "${libjpeg_inputs}")
endif()

add_library(JPEG::JPEG STATIC IMPORTED)
set_target_properties(JPEG::JPEG PROPERTIES
  IMPORTED_LOCATION "${libjpeg_library}"
  INTERFACE_INCLUDE_DIRECTORIES "${libjpeg_dir}/install/include")
