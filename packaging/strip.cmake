# Run by CPack on the staged files: strips the programs as Debian strips its own, symbols and the
# compiler's identification notes alike.
file(GLOB programs ${CPACK_TEMPORARY_DIRECTORY}/usr/bin/*
     ${CPACK_TEMPORARY_DIRECTORY}/usr/lib/cups/backend/*)
foreach(program ${programs})
  execute_process(
    COMMAND strip --remove-section=.comment --remove-section=.note --strip-unneeded ${program}
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "strip failed on ${program}")
  endif()
endforeach()
