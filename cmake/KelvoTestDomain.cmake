# The test domain: a Samba domain controller made from the standard directory's seed and
# started by scripts/test-domain.sh for the tests that need it (ctest's fixture TestDomain:
# started before the first of them, stopped after the last, also when one fails), and
# the stand-in's data file made from the same seed beside the programs.
set(KELVO_TEST_DC 127.0.0.1 CACHE STRING "Loopback address the test domain's LDAP server listens on")
set(KELVO_TEST_DC_PASSWORD "Kelvo-Test-Domain-1")
set(KELVO_DIRECTORY_SEED ${CMAKE_SOURCE_DIR}/sim/adsi/StandardDirectory.seed)
set(KELVO_TEST_DOMAIN_DIR ${CMAKE_BINARY_DIR}/test-domain)
find_program(KELVO_PYTHON NAMES python3 REQUIRED)

add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/bin/StandardDirectory.ini
  COMMAND ${KELVO_PYTHON} ${CMAKE_SOURCE_DIR}/scripts/directory-seed.py ini ${KELVO_DIRECTORY_SEED}
          ${CMAKE_BINARY_DIR}/bin/StandardDirectory.ini
  DEPENDS ${KELVO_DIRECTORY_SEED} ${CMAKE_SOURCE_DIR}/scripts/directory-seed.py
  COMMENT "Making the stand-in's standard directory from its seed"
  VERBATIM)
add_custom_target(StandardDirectory DEPENDS ${CMAKE_BINARY_DIR}/bin/StandardDirectory.ini)

set(kelvo_domain_env KELVO_TEST_DC=${KELVO_TEST_DC} KELVO_TEST_DC_PASSWORD=${KELVO_TEST_DC_PASSWORD})
add_test(NAME TestDomainStart
         COMMAND ${CMAKE_COMMAND} -E env ${kelvo_domain_env} ${CMAKE_SOURCE_DIR}/scripts/test-domain.sh start
                 ${KELVO_TEST_DOMAIN_DIR} ${KELVO_DIRECTORY_SEED})
add_test(NAME TestDomainStop COMMAND ${CMAKE_SOURCE_DIR}/scripts/test-domain.sh stop ${KELVO_TEST_DOMAIN_DIR})
set_tests_properties(TestDomainStart PROPERTIES FIXTURES_SETUP TestDomain TIMEOUT 120)
set_tests_properties(TestDomainStop PROPERTIES FIXTURES_CLEANUP TestDomain TIMEOUT 30)

# kelvo_require_test_domain(<gtest target> <regex>)  (ctest names a parameterised case "<name>  # GetParam() = ...")
# The target's cases whose names match run with the test domain started and named in their
# environment (KELVO_TEST_DC, KELVO_TEST_DC_PASSWORD).
function(kelvo_require_test_domain name pattern)
  add_dependencies(${name} StandardDirectory)
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_domain.cmake)
  file(WRITE ${script}
       "foreach(t IN LISTS ${name}_TESTS)\n"
       "  if(t MATCHES \"${pattern}\")\n"
       "    set_tests_properties(\"\${t}\" PROPERTIES FIXTURES_REQUIRED TestDomain\n"
       "      ENVIRONMENT \"KELVO_TEST_DC=${KELVO_TEST_DC};KELVO_TEST_DC_PASSWORD=${KELVO_TEST_DC_PASSWORD}\")\n"
       "  endif()\n"
       "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()
