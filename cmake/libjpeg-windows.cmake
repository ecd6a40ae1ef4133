# Provides JPEG::JPEG, the static libjpeg-turbo of a Windows cross build: the
# target FindJPEG gives a native build, so the rest of the build links the
# same name either way. The library is built once, at configure time, by
# scripts/build-libjpeg-windows.sh from Debian's source package.

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

if(NOT EXISTS "${libjpeg_library}")
  message(STATUS "Building libjpeg-turbo for Windows in ${libjpeg_dir}")
  execute_process(
    COMMAND sh "${CMAKE_CURRENT_LIST_DIR}/../scripts/build-libjpeg-windows.sh"
            "${CMAKE_TOOLCHAIN_FILE}" "${libjpeg_dir}" "${libjpeg_c_flags}"
    RESULT_VARIABLE libjpeg_result)
  if(NOT libjpeg_result EQUAL 0)
    message(FATAL_ERROR
      "Building libjpeg-turbo for Windows failed (${libjpeg_result}); "
      "scripts/build-libjpeg-windows.sh's output above tells why.")
  endif()
endif()

add_library(JPEG::JPEG STATIC IMPORTED)
set_target_properties(JPEG::JPEG PROPERTIES
  IMPORTED_LOCATION "${libjpeg_library}"
  INTERFACE_INCLUDE_DIRECTORIES "${libjpeg_dir}/install/include")
