# Runs the cross-built test executables under Wine, one ctest test per GoogleTest case.
set(KELVO_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix the tests run in")
configure_file(${CMAKE_SOURCE_DIR}/scripts/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
               WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

include(GoogleTest)

# kelvo_add_gtest(<name> SOURCES ... [LIBS ...] [DEPENDS targets...] [TIMEOUT seconds]
#                 [RESOURCE_LOCK names...] [RUN_SERIAL])
# A test executable whose cases ctest lists at test time, each with a time-out so a
# box or dialog nobody closes cannot hang the run. Cases that share a fixed place (a file
# in a known folder, a registry key they change) name it in RESOURCE_LOCK so ctest -j
# never runs them at the same time. RUN_SERIAL runs the cases with no other test beside
# them: for cases whose timing suffers when the machine is busy with the rest of the suite.
function(kelvo_add_gtest name)
  cmake_parse_arguments(ARG "RUN_SERIAL" "TIMEOUT" "SOURCES;LIBS;DEPENDS;RESOURCE_LOCK" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 60)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  # The resource loader accepts KVResource only for a program of the same release.
  kelvo_version_resource(${name} APP "Kelvo tests: ${name}")
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} gmock gtest gtest_main)
  add_dependencies(${name} KVResource ${ARG_DEPENDS})
  set(props TIMEOUT ${ARG_TIMEOUT})
  if(ARG_RUN_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
    PROPERTIES ${props})
  if(ARG_RESOURCE_LOCK)
    # gtest_discover_tests flattens PROPERTIES into one argument list, so a value that is itself
    # a list (two lock names) cannot pass through it. ctest includes this script after the
    # discovered tests, whose names are then in <name>_TESTS, and gives them every lock.
    set(lock_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_locks.cmake)
    file(WRITE ${lock_script}
         "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES RESOURCE_LOCK \"${ARG_RESOURCE_LOCK}\")\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${lock_script})
  endif()
endfunction()
include(${CMAKE_CURRENT_LIST_DIR}/KelvoTestDomain.cmake)
