# Writes OUT, the gzip-compressed copy of IN (no name or time stamp in it,
# so that the same input always gives the same bytes). A manual page
# (SECTION given) first gets this version and its date in its title line,
# where the page's footer shows them:
#   .TH NAME SECTION "DATE" "zeb tools VERSION" "MANUAL"
file(READ "${IN}" text)
if(DEFINED SECTION)
  string(REGEX REPLACE "^\\.TH ([^ ]+) ${SECTION} (\"[^\"]*\"|[^ ]+) (\"[^\"]*\"|[^ ]+) "
                       ".TH \\1 ${SECTION} \"${DATE}\" \"zeb tools ${VERSION}\" " text "${text}")
  if(NOT text MATCHES "^\\.TH [^ ]+ ${SECTION} \"${DATE}\"")
    message(FATAL_ERROR "${IN}: no title line .TH NAME ${SECTION} DATE SOURCE MANUAL to date")
  endif()
endif()
get_filename_component(name "${IN}" NAME)
file(WRITE "${OUT}.tmp/${name}" "${text}")
execute_process(COMMAND gzip -9n -c "${OUT}.tmp/${name}" OUTPUT_FILE "${OUT}" RESULT_VARIABLE failed)
file(REMOVE_RECURSE "${OUT}.tmp")
if(failed)
  message(FATAL_ERROR "gzip failed on ${IN}")
endif()
