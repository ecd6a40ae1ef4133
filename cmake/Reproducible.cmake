# The same sources give the same Windows programs wherever the tree and the build folder lie: both
# folders are mapped to fixed names in what the compilers write (__FILE__, debug information).
# The linker takes the PE time stamp from SOURCE_DATE_EPOCH, which scripts/release.sh sets to the
# commit's date.

if(WIN32)
  # The build folder may lie inside the source folder: the last matching mapping wins.
  add_compile_options(
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>"
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")
endif()
