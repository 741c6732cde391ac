# The installation server's load generator; bench/server_bench.py drives it.
if(TARGET quorvane_install_client)
  add_executable(server_load server_load.cpp)
  target_link_libraries(server_load PRIVATE quorvane_install_client)
endif()
