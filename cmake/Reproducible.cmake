# The same sources give the same Windows programs wherever the tree and the build folder lie, and
# whatever was built or set before: both folders are mapped to fixed names in what the compilers
# write (__FILE__, debug information), and the PE time stamp is the date of the commit checked out.

if(WIN32)
  # The build folder may lie inside the source folder: the last matching mapping wins.
  add_compile_options(
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>"
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")

  # The linker stamps the time from SOURCE_DATE_EPOCH, an environment variable that no build
  # system sees as an input: the date is made a file of the build instead, brought up to date at
  # every build (a new commit relinks the programs, nothing else does), and every link takes the
  # variable from that file, never from the caller's environment.
  set(talvor_source_date ${CMAKE_BINARY_DIR}/source-date-epoch)
  add_custom_target(talvor_source_date
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DOUTPUT=${talvor_source_date}
            -P ${CMAKE_SOURCE_DIR}/cmake/SourceDate.cmake
    BYPRODUCTS ${talvor_source_date}
    VERBATIM)
  foreach(language C CXX)
    set(CMAKE_${language}_LINKER_LAUNCHER
        sh ${CMAKE_SOURCE_DIR}/cmake/link-dated.sh ${talvor_source_date})
  endforeach()

  # TARGET is linked with the date, and again whenever the date changes.
  function(talvor_dated_link target)
    add_dependencies(${target} talvor_source_date)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${talvor_source_date})
  endfunction()
endif()
