# Import libraries for DLLs whose .def file exports stdcall functions under
# their plain names. GNU ld exports them right (matching CVX_Close to the
# compiler's _CVX_Close@4), but the import library it writes carries the plain
# symbol, which a caller compiled with the __stdcall prototype cannot link to.
# After the link, the import library is made again with dlltool from the same
# names, each with the @N the objects give it, imported by its plain name.
# What a Visual Studio user links and ships goes to windows-sdk/ in the build:
# the import library named as its linker expects (Corvex.lib) and the DLL
# stripped of its symbol table (the one in bin/ keeps it for the checks).

if(CMAKE_SCRIPT_MODE_FILE)
  # cmake -DNM= -DDLLTOOL= -DSTRIP= -DDEF= -DDLL= -DDLLPATH= -DIMPLIB= -DSDK= -DWORK= -DOBJECTS=a;b -P this file
  execute_process(COMMAND ${NM} --defined-only --extern-only ${OBJECTS} OUTPUT_VARIABLE symbols
                  COMMAND_ERROR_IS_FATAL ANY)
  file(STRINGS ${DEF} lines)
  set(decorated "LIBRARY ${DLL}\nEXPORTS\n")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" name)
    if(name STREQUAL "" OR name MATCHES "^(LIBRARY|EXPORTS)( |$)")
      continue()
    endif()
    if(NOT symbols MATCHES " T _${name}@([0-9]+)\n")
      message(FATAL_ERROR "${DEF}: ${name} is no stdcall function of ${DLL}")
    endif()
    string(APPEND decorated "  ${name}@${CMAKE_MATCH_1}\n")
  endforeach()
  file(WRITE ${WORK} "${decorated}")
  execute_process(COMMAND ${DLLTOOL} --input-def ${WORK} --dllname ${DLL} --kill-at --output-lib ${IMPLIB}
                  COMMAND_ERROR_IS_FATAL ANY)
  get_filename_component(name ${DLL} NAME_WE)
  file(MAKE_DIRECTORY ${SDK})
  file(COPY_FILE ${IMPLIB} ${SDK}/${name}.lib)
  execute_process(COMMAND ${STRIP} --strip-all -o ${SDK}/${DLL} ${DLLPATH} COMMAND_ERROR_IS_FATAL ANY)
  return()
endif()

include_guard(GLOBAL)

# stdcall_import_library(target def [objects_target]): the objects are the
# target's own, or those of an object library it is made of.
function(stdcall_import_library target def)
  set(objects ${target})
  if(ARGC GREATER 2)
    set(objects ${ARGV2})
  endif()
  target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDLLTOOL=${CMAKE_DLLTOOL} -DDEF=${def}
            -DDLL=$<TARGET_FILE_NAME:${target}> -DIMPLIB=$<TARGET_LINKER_FILE:${target}>
            -DDLLPATH=$<TARGET_FILE:${target}> -DSTRIP=${CMAKE_STRIP} -DSDK=${CMAKE_BINARY_DIR}/windows-sdk
            -DWORK=${CMAKE_CURRENT_BINARY_DIR}/${target}-stdcall.def "-DOBJECTS=$<TARGET_OBJECTS:${objects}>"
            -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
    VERBATIM)
endfunction()
