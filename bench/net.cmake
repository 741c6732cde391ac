# One connection over loopback, direct and through danted, against socat.
quorvane_bench(net_bench SOURCES net_bench.cpp DEPENDS quorvane::net)
target_include_directories(net_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
