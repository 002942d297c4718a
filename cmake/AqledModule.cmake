# aqled_module(NAME DEPS...) builds src/<folder> as the static library aqled_<NAME>
# from every .cpp/.h in the folder; the library exposes src/ as its include root.
function(aqled_module name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_library(aqled_${name} STATIC ${sources})
  target_include_directories(aqled_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(aqled_${name} PUBLIC ${ARGN})
  target_compile_options(aqled_${name} PRIVATE ${AQLED_WARNINGS})
endfunction()

# aqled_test(NAME DEPS...) builds tests/<folder> as the test program test_<NAME> from
# every .cpp in the folder, linked with GoogleTest's main and the shared test support. With
# AQLED_TEST_PER_CASE (the default) every GoogleTest case is a CTest entry of its own, labelled
# with NAME, so that CTest runs them in parallel and a failure names its case; the floods (cases
# named *Flood* or *Hostile*) measure how the program holds up with the machine to themselves,
# so they run alone and carry the label "flood" as well. Without it (the sanitizer build, whose
# start-up per process is costly) each program is one entry, and the programs holding floods
# run alone.
include(GoogleTest)
option(AQLED_TEST_PER_CASE "One CTest entry per GoogleTest case" ON)
function(aqled_test name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_executable(test_${name} ${sources})
  target_link_libraries(test_${name} PRIVATE aqled_test_support ${ARGN} GTest::gtest Qt6::Test)
  target_compile_options(test_${name} PRIVATE ${AQLED_WARNINGS})
  set(floods "*Flood*:*Hostile*")
  if(NOT AQLED_TEST_PER_CASE)
    add_test(NAME ${name} COMMAND test_${name})
    set_tests_properties(${name} PROPERTIES LABELS "${name}" TIMEOUT 900)
    if(name STREQUAL "link" OR name STREQUAL "share" OR name STREQUAL "tools")
      set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
    endif()
    return()
  endif()
  gtest_discover_tests(test_${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    TEST_FILTER "-${floods}"
    PROPERTIES LABELS "${name}" TIMEOUT 600)
  gtest_discover_tests(test_${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    TEST_FILTER "${floods}" TEST_LIST test_${name}_floods
    PROPERTIES RUN_SERIAL TRUE TIMEOUT 600)
  # Two labels cannot pass through PROPERTIES (the list is flattened into the property pairs), so
  # a script CTest reads after the discovered floods labels them.
  set(labels ${CMAKE_CURRENT_BINARY_DIR}/test_${name}_flood_labels.cmake)
  file(WRITE ${labels} "if(test_${name}_floods)\n"
    "  set_tests_properties(\${test_${name}_floods} PROPERTIES LABELS \"${name};flood\")\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels})
endfunction()
