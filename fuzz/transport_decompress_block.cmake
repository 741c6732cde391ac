quorvane_fuzz_target(transport_decompress_block
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/transport_decompress_block.cpp
  DEPENDS quorvane::transport)
