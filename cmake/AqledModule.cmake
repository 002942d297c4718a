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
# every .cpp in the folder, linked with GoogleTest's main and the shared test support.
function(aqled_test name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_executable(test_${name} ${sources})
  target_link_libraries(test_${name} PRIVATE aqled_test_support ${ARGN} GTest::gtest Qt6::Test)
  target_compile_options(test_${name} PRIVATE ${AQLED_WARNINGS})
  add_test(NAME ${name} COMMAND test_${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;AQLED_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
    TIMEOUT 600)
endfunction()
