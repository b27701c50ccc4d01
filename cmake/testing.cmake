# Test executables run under Wine through CMAKE_CROSSCOMPILING_EMULATOR (set by
# tools/ in the toolchain invocation); each one is registered with CTest.
enable_testing()

# velmo_test_timeout(<test> <seconds>): CTest ends the test after <seconds>.
# Half a minute before, tools/wine_exec.sh lists the prefix's processes from
# the Linux side (their state and what they wait in), so that a hang leaves
# a trace even when nothing on the Windows side can report any more.
function(velmo_test_timeout test seconds)
  math(EXPR report_after "${seconds} - 30")
  set_tests_properties(${test} PROPERTIES TIMEOUT ${seconds}
    ENVIRONMENT_MODIFICATION "VELMO_HANG_REPORT_AFTER=set:${report_after}")
endfunction()

# velmo_add_test(<name> SOURCES <files...> LIBS <libs...> [RESOURCES <object libs...>]
#                [LABELS <labels...>] [TIMEOUT <s>] [NETWORK | CRASH_SERVER])
# RESOURCES are object libraries of compiled .rc files: the linker only keeps
# objects that are named directly, so they are added as sources.
# NETWORK runs the test beside the HTTP test server of testing/http_server,
# started outside Wine on a free port of 127.0.0.1 and stopped by its pid
# afterwards; the test finds it in VELMO_TEST_SERVER ("127.0.0.1:PORT") and,
# over TLS, VELMO_TEST_TLS_PORT and VELMO_TEST_TLS_ROOT.
# CRASH_SERVER runs it beside the crash server of testing/crash_server, started
# and stopped the same way; the test finds it in VELMO_TEST_CRASH_SERVER and
# its record in VELMO_TEST_CRASH_RECORD.
function(velmo_add_test name)
  cmake_parse_arguments(T "NETWORK;CRASH_SERVER" "TIMEOUT" "SOURCES;LIBS;LABELS;RESOURCES" ${ARGN})
  set(resource_objects)
  foreach(r ${T_RESOURCES})
    list(APPEND resource_objects $<TARGET_OBJECTS:${r}>)
  endforeach()
  add_executable(${name} ${T_SOURCES} ${resource_objects})
  target_link_libraries(${name} PRIVATE ${T_LIBS} test_support thirdparty::gtest)
  if(T_NETWORK)
    set(tls_dir ${CMAKE_BINARY_DIR}/testing/http_server/tls)
    target_link_libraries(${name} PRIVATE http_test_support)
    add_dependencies(${name} http_test_certificates)
    add_test(NAME ${name}
             COMMAND python3 ${CMAKE_SOURCE_DIR}/testing/http_server/run_with_test_server.py
                     --tls-cert ${tls_dir}/server.pem --tls-key ${tls_dir}/server.key
                     -- ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
  elseif(T_CRASH_SERVER)
    target_link_libraries(${name} PRIVATE crash_server_test_support)
    add_test(NAME ${name}
             COMMAND python3 ${CMAKE_SOURCE_DIR}/testing/crash_server/run_with_crash_server.py
                     -- ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  velmo_test_timeout(${name} ${T_TIMEOUT})
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# velmo_component_library(<target> [LIBS <libs...>] [TEST_LIBS <libs...>]
#                         [TEST_RESOURCES <object libs...>] [EXCLUDE <regex...>]
#                         [SOURCE_DIRS <folders...>])
# Builds the static library <target> from the *.cc files of the current folder
# and of the SOURCE_DIRS (tests, benchmarks and mains excluded) and, when the
# current folder has any *_unittest.cc, the test executable <target>_unittests
# from them.
function(velmo_component_library target)
  cmake_parse_arguments(C "" "" "LIBS;TEST_LIBS;TEST_RESOURCES;EXCLUDE;SOURCE_DIRS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  foreach(dir ${C_SOURCE_DIRS})
    file(GLOB dir_sources CONFIGURE_DEPENDS ${dir}/*.cc ${dir}/*.c)
    list(APPEND sources ${dir_sources})
  endforeach()
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_unittest.cc)
  list(FILTER sources EXCLUDE REGEX "(_unittest|_benchmark|_main)\\.cc$")
  foreach(ex ${C_EXCLUDE})
    list(FILTER sources EXCLUDE REGEX "${ex}")
  endforeach()
  add_library(${target} STATIC ${sources})
  target_link_libraries(${target} PUBLIC ${C_LIBS})
  if(tests)
    velmo_add_test(${target}_unittests SOURCES ${tests} LIBS ${target} ${C_TEST_LIBS}
                   RESOURCES ${C_TEST_RESOURCES})
  endif()
endfunction()

# velmo_add_network_test(<name> ...): velmo_add_test(<name> ... NETWORK).
function(velmo_add_network_test name)
  velmo_add_test(${name} ${ARGN} NETWORK)
endfunction()

# velmo_component_part(<target> PART_OF <library> [TEST_LIBS <libs...>]
#                      [TEST_RESOURCES <object libs...>])
# For a folder whose sources are built into <library> (one of its
# SOURCE_DIRS): <target> stays a name that links <library>, and the folder's
# *_unittest.cc build the test executable <target>_unittests.
function(velmo_component_part target)
  cmake_parse_arguments(C "" "PART_OF" "TEST_LIBS;TEST_RESOURCES" ${ARGN})
  add_library(${target} INTERFACE)
  target_link_libraries(${target} INTERFACE ${C_PART_OF})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_unittest.cc)
  if(tests)
    velmo_add_test(${target}_unittests SOURCES ${tests} LIBS ${C_PART_OF} ${C_TEST_LIBS}
                   RESOURCES ${C_TEST_RESOURCES})
  endif()
endfunction()

# velmo_add_crash_server_test(<name> ...): velmo_add_test(<name> ... CRASH_SERVER).
function(velmo_add_crash_server_test name)
  velmo_add_test(${name} ${ARGN} CRASH_SERVER)
endfunction()
