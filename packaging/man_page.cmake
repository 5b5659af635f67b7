# Writes a manual page from a program's own help text, so the page says what the program says.
#   cmake -DPROGRAM=path -DNAME=krvtool -DSUMMARY="..." -DVERSION=1.0.0 -DOUT=krvtool.1
#         [-DHELP="--help"] [-DCOMMANDS=ON] [-DSEE_ALSO="korvaplay krvenc"] [-DEXTRA=file.roff]
#         -P man_page.cmake
# HELP is the argument that makes the program print its help (on standard output or error,
# whatever its exit code); with COMMANDS, every command that the help lists in its "commands:"
# block gets its own section from `PROGRAM COMMAND --help`. EXTRA is written roff put before
# the help text (a synopsis, keys, files).
if(NOT HELP)
  set(HELP "--help")
endif()

function(help_text out)  # extra arguments: the program's arguments
  # Without a display the player prints its help box on standard error.
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY ${PROGRAM} ${ARGN}
                  OUTPUT_VARIABLE o ERROR_VARIABLE e RESULT_VARIABLE rc)
  set(text "${o}${e}")
  if(text STREQUAL "")
    message(FATAL_ERROR "${PROGRAM} ${ARGN} printed no help (exit code ${rc})")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Help text as roff: shown as written, line for line.
function(roff_block out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  string(REGEX REPLACE "\n+$" "" text "${text}")
  set(${out} ".nf\n${text}\n.fi\n" PARENT_SCOPE)
endfunction()

string(TOUPPER "${NAME}" upper)
help_text(main ${HELP})
roff_block(body "${main}")
set(page ".TH ${upper} 1 \"\" \"Korva ${VERSION}\" \"User Commands\"\n.SH NAME\n${NAME} \\- ${SUMMARY}\n")
if(EXTRA)
  file(READ "${EXTRA}" extra)
  string(APPEND page "${extra}")
endif()
string(APPEND page ".SH DESCRIPTION\n${body}")

if(COMMANDS)
  string(REGEX MATCH "commands:\n(  [a-z][^\n]*\n)+" block "${main}")
  string(REGEX MATCHALL "\n  [a-z]+" names "${block}")
  string(APPEND page ".SH COMMANDS\n")
  foreach(n IN LISTS names)
    string(STRIP "${n}" n)
    help_text(text ${n} --help)
    roff_block(body "${text}")
    string(APPEND page ".SS ${n}\n${body}")
  endforeach()
endif()

if(SEE_ALSO)
  string(REPLACE " " ";" others "${SEE_ALSO}")
  set(refs "")
  foreach(o IN LISTS others)
    list(APPEND refs "\\fB${o}\\fR(1)")
  endforeach()
  list(JOIN refs ",\n" refs)
  string(APPEND page ".SH SEE ALSO\n${refs}\n")
endif()
file(WRITE "${OUT}" "${page}")
