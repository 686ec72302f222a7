# Makes a manual page from a program's own --help and --version (help2man), so that the page
# always names the options the program has. For peltorn, the help of every subcommand (and of
# theirs) is added as a section of its own.
#   cmake -DPROGRAM=... -DOUTPUT=... -DNAME=... -DSUMMARY=... -DSTATIC=... -DHELP2MAN=... -P ManPage.cmake
cmake_minimum_required(VERSION 3.22)

# The help of one command line as troff text of a subsection.
function(append_help out_var args)
  execute_process(COMMAND ${PROGRAM} ${args} --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${args} --help failed")
  endif()
  string(REPLACE ";" " " title "${args}")
  string(REGEX REPLACE "\\\\" "\\\\e" help "${help}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
  set(result "${${out_var}}.SS ${NAME} ${title}\n.nf\n${help}.fi\n")
  # The subcommands of this one, from its "Subcommands:" list.
  string(FIND "${help}" "Subcommands:\n" at)
  if(at GREATER -1)
    string(SUBSTRING "${help}" ${at} -1 list)
    string(REGEX MATCHALL "\n  ([a-z][a-z0-9-]*) " subs "${list}")
    foreach(sub ${subs})
      string(STRIP "${sub}" sub)
      set(child "${args}")
      list(APPEND child ${sub})
      set(text "")
      append_help(text "${child}")
      string(APPEND result "${text}")
    endforeach()
  endif()
  set(${out_var} "${result}" PARENT_SCOPE)
endfunction()

set(include_file "${OUTPUT}.include")
file(READ "${STATIC}" static_text)
set(sections "")
if(SUBCOMMANDS)
  execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE top)
  string(FIND "${top}" "Subcommands:\n" at)
  string(SUBSTRING "${top}" ${at} -1 list)
  string(REGEX MATCHALL "\n  ([a-z][a-z0-9-]*) " subs "${list}")
  foreach(sub ${subs})
    string(STRIP "${sub}" sub)
    append_help(sections "${sub}")
  endforeach()
  set(sections "[SUBCOMMANDS]\n${sections}\n")
endif()
file(WRITE "${include_file}" "${sections}${static_text}")
execute_process(COMMAND ${HELP2MAN} --no-info --no-discard-stderr --name=${SUMMARY}
                        --include=${include_file} --output=${OUTPUT} ${PROGRAM}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${PROGRAM}")
endif()
