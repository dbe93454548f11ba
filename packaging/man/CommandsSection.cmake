# Writes a help2man include file with a COMMANDS section: the --help of every
# subcommand of a program (and of their subcommands), so that the man page
# follows the command line as it is built.
#
#   cmake -DPROGRAM=<path> -DNAME=<name> -DOUTPUT=<file> -P CommandsSection.cmake

function(help_of out)
  execute_process(COMMAND ${PROGRAM} ${ARGN} --help
                  OUTPUT_VARIABLE text ERROR_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NAME} ${ARGN} --help failed (${rc}): ${text}")
  endif()
  # The program's footer (two blank lines on) belongs to the main page only.
  string(FIND "${text}" "\n\n\n" footer)
  if(footer GREATER -1)
    string(SUBSTRING "${text}" 0 ${footer} text)
  endif()
  string(REPLACE "${PROGRAM}" "${NAME}" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The names listed under "Subcommands:" in a help text.
function(subcommands_of text out)
  set(names)
  set(inside OFF)
  string(REPLACE "\n" ";" lines "${text}")
  foreach(line IN LISTS lines)
    if(line STREQUAL "Subcommands:")
      set(inside ON)
    elseif(inside AND line MATCHES "^  ([a-z][a-z0-9-]*)( |$)")
      list(APPEND names ${CMAKE_MATCH_1})
    elseif(inside AND NOT line MATCHES "^ ")
      set(inside OFF)
    endif()
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

function(roff_block text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(section "")
function(walk)
  help_of(text ${ARGN})
  if(ARGN)
    string(REPLACE ";" " " words "${ARGN}")
    string(FIND "${text}" "\n" first)
    string(SUBSTRING "${text}" 0 ${first} summary)
    math(EXPR first "${first} + 1")
    string(SUBSTRING "${text}" ${first} -1 rest)
    string(STRIP "${rest}" rest)
    roff_block("${summary}" summary)
    roff_block("${rest}" rest)
    set(section "${section}.SS \"${NAME} ${words}\"\n${summary}\n.PP\n.nf\n${rest}\n.fi\n")
  endif()
  subcommands_of("${text}" names)
  foreach(name IN LISTS names)
    walk(${ARGN} ${name})
  endforeach()
  set(section "${section}" PARENT_SCOPE)
endfunction()

walk()
# A program without subcommands gets no file (help2man --opt-include).
if(section STREQUAL "")
  file(REMOVE ${OUTPUT})
else()
  file(WRITE ${OUTPUT} "[COMMANDS]\nEach command takes the options of the program before its name.\n${section}")
endif()
