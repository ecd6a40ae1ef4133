# Writes the programs' date, in seconds since 1970, to OUTPUT, unless it holds it already (so that
# only a new date relinks): the date of the commit that SOURCE_DIR is checked out at, whatever the
# environment says; for a tree outside git (a copy), SOURCE_DATE_EPOCH; otherwise nothing, and the
# linker stamps the time of the link.

set(date "")
execute_process(
  COMMAND git -C ${SOURCE_DIR} rev-parse --show-toplevel
  OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
# A copy of the tree inside another repository takes nothing from that one.
if(NOT failed)
  file(REAL_PATH "${SOURCE_DIR}" source)
  file(REAL_PATH "${top}" top)
endif()
if(NOT failed AND source STREQUAL top)
  execute_process(
    COMMAND git -C ${SOURCE_DIR} log -1 --format=%ct
    OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
elseif(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(date "$ENV{SOURCE_DATE_EPOCH}")
endif()
if(NOT date MATCHES "^[0-9]*$")
  message(FATAL_ERROR "the programs' date is not a number of seconds: '${date}'")
endif()

set(old "")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL date)
  file(WRITE ${OUTPUT} "${date}")
endif()
