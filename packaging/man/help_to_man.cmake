# cmake -DPROGRAM=<path> -DNAME=<name> -DSUMMARY=<text> -DVERSION=<x.y.z>
#       -DGZIP=<gzip> -DOUTPUT=<page.1.gz> -P help_to_man.cmake
# Turns what PROGRAM --help prints into a manual page, kept as printed (the
# help texts are laid out by hand), and compresses it as Debian wants.
foreach(var PROGRAM NAME SUMMARY VERSION GZIP OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "help_to_man.cmake: ${var} not given")
  endif()
endforeach()

execute_process(COMMAND ${PROGRAM} --help
  OUTPUT_VARIABLE help ERROR_VARIABLE errors RESULT_VARIABLE status TIMEOUT 30)
if(NOT status EQUAL 0 OR help STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} --help gave status '${status}': ${errors}")
endif()
# The usage lines name the program as it was started.
string(REPLACE "${PROGRAM}" "${NAME}" help "${help}")
# roff: a backslash is \e, a line starting with a control character is
# protected by \&, and a hyphen in an option is a minus sign.
string(REPLACE "\\" "\\e" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
string(PREPEND help "\n")
string(REPLACE "\n." "\n\\&." help "${help}")
string(REPLACE "\n'" "\n\\&'" help "${help}")
string(SUBSTRING "${help}" 1 -1 help)
if(NOT help MATCHES "\n$")
  string(APPEND help "\n")
endif()
string(TOUPPER "${NAME}" title)

file(WRITE ${OUTPUT}.tmp ".TH ${title} 1 \"\" \"${NAME} ${VERSION}\" \"User Commands\"
.SH NAME
${NAME} \\- ${SUMMARY}
.SH DESCRIPTION
.nf
${help}.fi
.SH VERSION
${NAME} ${VERSION}; \\fB${NAME} \\-\\-version\\fR prints it.
")
get_filename_component(dir ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
execute_process(COMMAND ${GZIP} -9n -c ${OUTPUT}.tmp OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE status)
file(REMOVE ${OUTPUT}.tmp)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "${GZIP} failed on the page of ${NAME}")
endif()
