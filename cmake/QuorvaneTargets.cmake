# Helpers shared by every folder's CMakeLists.

# quorvane_layer(NAME SOURCES ... DEPENDS ...): one layer library, include root src/.
function(quorvane_layer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(quorvane_${name} STATIC ${ARG_SOURCES})
  target_include_directories(quorvane_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(quorvane_${name} PUBLIC ${ARG_DEPENDS})
  add_library(quorvane::${name} ALIAS quorvane_${name})
endfunction()

# quorvane_test(NAME LABEL label SOURCES ... DEPENDS ...): a GoogleTest program whose
# cases are registered with CTest under the given label.
function(quorvane_test name)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;DEPENDS" ${ARGN})
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gmock
                                        GTest::gtest_main)
  gtest_discover_tests(${name} PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 300
                       DISCOVERY_TIMEOUT 120)
endfunction()
