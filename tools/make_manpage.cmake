# Writes the manual page of bioeng from the tool's own help texts, so that
# the page and --help never disagree (what help2man does, without Perl):
#   cmake -DBIOENG=<tool> -DOUT=<bioeng.1> -P make_manpage.cmake
# The top-level help gives NAME, SYNOPSIS and DESCRIPTION; every command its
# Commands section lists gets a subsection with its `--help` text.

function(help_text out)
  execute_process(COMMAND ${BIOENG} ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${BIOENG} ${ARGN} failed (${rc})")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Text as roff shows it literally: backslashes and minus signs escaped, and
# no line taken for a request.
function(roff_literal out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REPLACE "\n." "\n\\&." text "${text}")
  string(REPLACE "\n'" "\n\\&'" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The lines after the "Usage:" line (and the blank one after it).
function(body_of out text)
  string(REGEX REPLACE "^Usage:[^\n]*\n\n?" "" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(usage_of out text)
  string(REGEX MATCH "^Usage: ([^\n]*)" _ "${text}")
  set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

help_text(main --help)
help_text(version --version)
string(STRIP "${version}" version)

string(REGEX MATCH "Commands:\n(  [a-z]+ [^\n]*\n)+" listing "${main}")
string(REGEX MATCHALL "\n  [a-z]+ " commands "${listing}")
list(TRANSFORM commands STRIP)

set(page ".\\\" Generated from the help texts of ${version}; do not edit.\n")
string(APPEND page ".TH BIOENG 1 \"\" \"${version}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\nbioeng \\- map, align and summarise DNA sequence files\n")
string(APPEND page ".SH SYNOPSIS\n")
usage_of(usage "${main}")
roff_literal(usage "${usage}")
string(APPEND page ".nf\n${usage}\n")
foreach(cmd IN LISTS commands)
  help_text(cmd_help ${cmd} --help)
  usage_of(usage "${cmd_help}")
  roff_literal(usage "${usage}")
  string(APPEND page "${usage}\n")
endforeach()
string(APPEND page ".fi\n.SH DESCRIPTION\n.nf\n")
body_of(body "${main}")
roff_literal(body "${body}")
string(APPEND page "${body}.fi\n.SH COMMANDS\n")
foreach(cmd IN LISTS commands)
  help_text(cmd_help ${cmd} --help)
  usage_of(usage "${cmd_help}")
  body_of(body "${cmd_help}")
  roff_literal(usage "${usage}")
  roff_literal(body "${body}")
  string(APPEND page ".SS \"bioeng ${cmd}\"\n.nf\n${usage}\n\n${body}.fi\n")
endforeach()
file(WRITE ${OUT} "${page}")
