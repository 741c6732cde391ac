quorvane_fuzz_target(transport_receive
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/transport_receive.cpp
  DEPENDS quorvane::transport)
