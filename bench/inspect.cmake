# quorvane-inspect against cp: bench/inspect_vs_cp.py runs both on the same input.
add_executable(inspect_make_input inspect_make_input.cpp)
target_link_libraries(inspect_make_input PRIVATE quorvane::objects quorvane::transport)
