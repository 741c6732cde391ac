quorvane_bench(app_package_check_bench SOURCES app_package_check_bench.cpp DEPENDS quorvane::app)
