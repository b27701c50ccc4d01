# Links every program and DLL against the Universal C Runtime instead of the
# toolchain's default msvcrt.dll. Only the Universal runtime calls the
# handlers set with _set_invalid_parameter_handler and _set_purecall_handler;
# under msvcrt those two are toolchain stubs, so the crash handler would
# never hear of an invalid-parameter or pure virtual call.
#
# The compiler driver's link line names -lmsvcrt in its built-in specs; a
# copy of those specs with -lucrt in its place is written at configure time
# and handed to every compile and link. Included from the toolchain file,
# which CMake also reads for its own try-compile projects: each writes its
# own copy.
#
# Windows before 10 needs the Universal C Runtime update installed.

set(_velmo_ucrt_specs "${CMAKE_BINARY_DIR}/velmo-ucrt.specs")
execute_process(
  COMMAND ${CMAKE_C_COMPILER} -dumpspecs
  OUTPUT_VARIABLE _velmo_specs
  RESULT_VARIABLE _velmo_specs_result)
if(NOT _velmo_specs_result EQUAL 0 OR NOT _velmo_specs MATCHES "-lmsvcrt")
  message(FATAL_ERROR "Cannot derive the UCRT specs from `${CMAKE_C_COMPILER} -dumpspecs`")
endif()
string(REPLACE "-lmsvcrt" "-lucrt" _velmo_specs "${_velmo_specs}")
file(WRITE "${_velmo_ucrt_specs}.tmp" "${_velmo_specs}")
# Rewritten only when it changed, so that a reconfigure does not rebuild.
file(COPY_FILE "${_velmo_ucrt_specs}.tmp" "${_velmo_ucrt_specs}" ONLY_IF_DIFFERENT)
file(REMOVE "${_velmo_ucrt_specs}.tmp")
# The compiler cache knows a specs file by its size and time stamp only, so a
# stamp of the configure time would make every build tree miss the entries of
# every other. The stamp is taken from the content instead: the same specs,
# the same stamp, in any tree.
string(MD5 _velmo_specs_md5 "${_velmo_specs}")
string(SUBSTRING "${_velmo_specs_md5}" 0 7 _velmo_specs_md5)
math(EXPR _velmo_specs_stamp "0x${_velmo_specs_md5}")
execute_process(COMMAND touch -d "@${_velmo_specs_stamp}" "${_velmo_ucrt_specs}"
                RESULT_VARIABLE _velmo_touch_result)
if(NOT _velmo_touch_result EQUAL 0)
  message(FATAL_ERROR "Cannot set the time stamp of ${_velmo_ucrt_specs}")
endif()

# _UCRT and the runtime version make the headers declare the Universal
# runtime's functions (the secure string functions among them). The static
# winpthread library refers to _setjmp, which the Universal runtime exports
# under another name.
set(_velmo_ucrt_compile "-specs=${_velmo_ucrt_specs} -D_UCRT -D__MSVCRT_VERSION__=0xE00")
set(_velmo_ucrt_link "-specs=${_velmo_ucrt_specs} -Wl,--defsym,_setjmp=__intrinsic_setjmp")
# CMake may read the toolchain file more than once in one scope.
if(NOT CMAKE_CXX_FLAGS_INIT MATCHES "velmo-ucrt")
  set(CMAKE_C_FLAGS_INIT "${CMAKE_C_FLAGS_INIT} ${_velmo_ucrt_compile}")
  set(CMAKE_CXX_FLAGS_INIT "${CMAKE_CXX_FLAGS_INIT} ${_velmo_ucrt_compile}")
  foreach(_kind EXE SHARED MODULE)
    set(CMAKE_${_kind}_LINKER_FLAGS_INIT "${CMAKE_${_kind}_LINKER_FLAGS_INIT} ${_velmo_ucrt_link}")
  endforeach()
endif()
