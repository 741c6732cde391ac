# Helpers shared by every folder's CMakeLists.

# quorvane_layer(NAME SOURCES ... DEPENDS ...): one layer library, include root src/.
function(quorvane_layer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(quorvane_${name} STATIC ${ARG_SOURCES})
  target_include_directories(quorvane_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(quorvane_${name} PUBLIC ${ARG_DEPENDS})
  add_library(quorvane::${name} ALIAS quorvane_${name})
endfunction()

# quorvane_test(NAME LABEL label SOURCES ... DEPENDS ... [WINDOWS_EXCLUDE Suite.Case ...]):
# a GoogleTest program whose cases are registered with CTest under the given label.
# On Windows the cases named in WINDOWS_EXCLUDE (which the caller gives a reason
# for) are not registered.
function(quorvane_test name)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;DEPENDS;WINDOWS_EXCLUDE" ${ARGN})
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gmock
                                        GTest::gtest_main)
  # A cross build lists its cases when ctest runs (under the emulator, wine64),
  # not while building.
  if(CMAKE_CROSSCOMPILING)
    set(discovery_mode PRE_TEST)
  else()
    set(discovery_mode POST_BUILD)
  endif()
  set(filter "*")
  if(WIN32 AND ARG_WINDOWS_EXCLUDE)
    list(JOIN ARG_WINDOWS_EXCLUDE ":" excluded)
    set(filter "*-${excluded}")
  endif()
  gtest_discover_tests(${name} PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 300
                       DISCOVERY_TIMEOUT 120 DISCOVERY_MODE ${discovery_mode} TEST_FILTER ${filter})
endfunction()
