quorvane_bench(transport_bench SOURCES transport_bench.cpp DEPENDS quorvane::transport)
# Typical program data for the samples: the object files of this build.
target_compile_definitions(transport_bench PRIVATE
                           QUORVANE_SAMPLE_DIR="${CMAKE_BINARY_DIR}")
