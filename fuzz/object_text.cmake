# The text reader on arbitrary text; what it accepts must render and read back to
# the same bytes.
quorvane_fuzz_target(object_text SOURCES object_text_fuzz.cpp DEPENDS quorvane::model)
