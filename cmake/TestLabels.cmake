# CTest labels, by which a stage picks the tests it runs (ctest -L <label>):
#   unit         in-process: no real port, socket or process
#   e2e          drives simulators, pseudo-terminals, child processes or sockets
#   netns        makes a network namespace of its own, or needs to run in one
#   concurrency  runs the libraries' or the simulators' code on more than one
#                thread: the ThreadSanitizer stage runs exactly these
#   slow         takes more than about five seconds
# Every test carries one of unit and e2e; the others are added where they hold.

# kestrel_test_labels(<target> <labels> [MATCH <regex> <labels>]...)
# Labels the tests gtest_discover_tests found in <target>: each gets <labels>,
# and those whose full name matches a rule's regex that rule's labels too
# (e2e from a rule takes the place of unit).
# Several labels are joined with commas ("e2e,concurrency"). Discovery may run
# only at test time, so the labels are set then, over the list it leaves
# behind; call this after gtest_discover_tests, in the same folder. A target
# whose every test is labelled concurrency joins concurrency_tests.
function(kestrel_test_labels target labels)
  string(REPLACE "," ";" labels "${labels}")
  if(concurrency IN_LIST labels)
    set_property(GLOBAL APPEND PROPERTY KESTREL_CONCURRENCY_TARGETS ${target})
  endif()
  set(script "foreach(test IN LISTS ${target}_TESTS)\n  set(labels ${labels})\n")
  set(rules ${ARGN})
  while(rules)
    list(POP_FRONT rules keyword regex more)
    if(NOT keyword STREQUAL "MATCH" OR "${more}" STREQUAL "")
      message(FATAL_ERROR "kestrel_test_labels(${target}): expected MATCH <regex> <labels>, got ${keyword}")
    endif()
    string(REPLACE "," ";" more "${more}")
    string(APPEND script "  if(test MATCHES [=[${regex}]=])\n    list(APPEND labels ${more})\n  endif()\n")
  endwhile()
  string(APPEND script "  list(FIND labels e2e at)\n  if(at GREATER -1)\n    list(REMOVE_ITEM labels unit)\n  endif()\n"
                       "  list(REMOVE_DUPLICATES labels)\n"
                       "  set_tests_properties(\"\${test}\" PROPERTIES LABELS \"\${labels}\")\n"
                       "endforeach()\n")
  set(file ${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake)
  file(WRITE ${file} "${script}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${file})
endfunction()

# kestrel_test_folder()
# Called first in a folder of tests: its code is compiled once and run once,
# and unoptimised it compiles in about half the time. The code under test
# keeps the build's own flags; warnings stay errors.
macro(kestrel_test_folder)
  add_compile_options(-O0)
endmacro()
