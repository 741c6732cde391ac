quorvane_fuzz_target(object_stream SOURCES object_stream_fuzz.cpp
                     DEPENDS quorvane::objects)
