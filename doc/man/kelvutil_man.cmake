# cmake -DKELVUTIL=PROGRAM -DTEMPLATE=kelvutil.1.in -DOUTPUT=kelvutil.1
#       -DVERSION=V -P kelvutil_man.cmake
#
# Writes kelvutil(1) from the template and the built program's own help:
# @SYNOPSIS@ becomes one line for every subcommand that `kelvutil --help`
# lists, @COMMANDS@ one subsection for each, holding the text of
# `kelvutil NAME --help` as it stands. A help paragraph becomes a filled
# paragraph; indented lines (the help's tables) are kept line for line.
# Text is escaped for roff: nothing in a help text can act as a request.
cmake_minimum_required(VERSION 3.20)

function(run_kelvutil Out)
  execute_process(COMMAND "${KELVUTIL}" ${ARGN}
                  OUTPUT_VARIABLE Text RESULT_VARIABLE Rc ERROR_VARIABLE Err)
  if(NOT Rc EQUAL 0)
    message(FATAL_ERROR "${KELVUTIL} ${ARGN}: exit code ${Rc}\n${Err}")
  endif()
  set(${Out} "${Text}" PARENT_SCOPE)
endfunction()

# Takes the first line off the text in the variable named TextVar (without
# its LF) into LineVar. Lines are cut by hand, not through CMake lists, so
# that a ";" or "[" in a help text is only text.
macro(pop_line TextVar LineVar)
  string(FIND "${${TextVar}}" "\n" PopAt)
  if(PopAt EQUAL -1)
    set(${LineVar} "${${TextVar}}")
    set(${TextVar} "")
  else()
    string(SUBSTRING "${${TextVar}}" 0 ${PopAt} ${LineVar})
    math(EXPR PopAt "${PopAt} + 1")
    string(SUBSTRING "${${TextVar}}" ${PopAt} -1 ${TextVar})
  endif()
endmacro()

# Text for roff: a backslash is \e, a minus \- (so that options can be
# copied from the page), a quote in a macro argument \(dq, and a line
# that starts with a control character is protected by \&.
function(roff_escape Out Text)
  string(REPLACE "\\" "\\e" Text "${Text}")
  string(REPLACE "-" "\\-" Text "${Text}")
  string(REPLACE "\"" "\\(dq" Text "${Text}")
  if(Text MATCHES "^[.']")
    set(Text "\\&${Text}")
  endif()
  set(${Out} "${Text}" PARENT_SCOPE)
endfunction()

function(help_to_roff Out Text)
  set(Roff "")
  set(Mode "")       # fill or nf once the first line is out
  set(Break FALSE)   # a blank line came: the next text starts a paragraph
  while(NOT Text STREQUAL "")
    pop_line(Text Line)
    if(Line STREQUAL "")
      set(Break TRUE)
      continue()
    endif()
    if(Line MATCHES "^ ")
      set(Want nf)
    else()
      set(Want fill)
    endif()
    if(Mode STREQUAL "nf" AND (Break OR Want STREQUAL "fill"))
      string(APPEND Roff ".fi\n")
    endif()
    if(Break AND NOT Mode STREQUAL "")
      string(APPEND Roff ".PP\n")
    endif()
    if(Want STREQUAL "nf" AND (Break OR NOT Mode STREQUAL "nf"))
      string(APPEND Roff ".nf\n")
    endif()
    set(Mode ${Want})
    set(Break FALSE)
    roff_escape(Line "${Line}")
    string(APPEND Roff "${Line}\n")
  endwhile()
  if(Mode STREQUAL "nf")
    string(APPEND Roff ".fi\n")
  endif()
  set(${Out} "${Roff}" PARENT_SCOPE)
endfunction()

run_kelvutil(Overview --help)
set(Synopsis "")
set(Commands "")
set(InTable FALSE)
set(Count 0)
while(NOT Overview STREQUAL "")
  pop_line(Overview Line)
  if(Line STREQUAL "commands:")
    set(InTable TRUE)
  elseif(InTable AND Line MATCHES "^  ([^ ]+) *(.*)$")
    set(Name "${CMAKE_MATCH_1}")
    string(STRIP "${CMAKE_MATCH_2}" Usage)
    run_kelvutil(Help ${Name} --help)
    pop_line(Help First)
    if(NOT First STREQUAL "usage: kelvutil ${Name} ${Usage}")
      message(FATAL_ERROR "kelvutil ${Name} --help begins \"${First}\", "
                          "not the usage that kelvutil --help lists")
    endif()
    roff_escape(EName "${Name}")
    roff_escape(EUsage "${Usage}")
    string(APPEND Synopsis ".B \"kelvutil ${EName}\"\n.I \"${EUsage}\"\n.br\n")
    help_to_roff(Body "${Help}")
    string(APPEND Commands ".SS \"kelvutil ${EName} \\fI${EUsage}\\fR\"\n${Body}")
    math(EXPR Count "${Count} + 1")
  endif()
endwhile()
if(Count EQUAL 0)
  message(FATAL_ERROR "kelvutil --help lists no commands")
endif()

file(READ "${TEMPLATE}" Page)
string(REPLACE "@VERSION@" "${VERSION}" Page "${Page}")
string(REPLACE "\n@SYNOPSIS@\n" "\n${Synopsis}" Page "${Page}")
string(REPLACE "\n@COMMANDS@\n" "\n${Commands}" Page "${Page}")
file(WRITE "${OUTPUT}" "${Page}")
