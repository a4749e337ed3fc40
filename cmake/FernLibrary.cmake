# fern_library(NAME DEPS...): a static library of every .cpp in the calling folder.
function(fern_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    message(STATUS "${name}: no sources yet, skipped")
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARGN})
endfunction()

# fern_test(NAME SOURCES... [LIBS libs...]): one GoogleTest executable registered with CTest.
function(fern_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT T_SOURCES)
    message(STATUS "${name}: no test sources yet, skipped")
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  # Most fixtures build a demo host to work on.
  if(TARGET fern_demo)
    target_link_libraries(${name} PRIVATE fern_demo)
  endif()
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  # Discovered tests take only one environment entry, so the paths are compiled in as well;
  # Qt tests choose the offscreen platform themselves.
  target_compile_definitions(${name} PRIVATE FERN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                             FERN_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "FERN_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
