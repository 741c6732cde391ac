quorvane_bench(model_stream_bench SOURCES model_stream_bench.cpp DEPENDS quorvane::objects)
