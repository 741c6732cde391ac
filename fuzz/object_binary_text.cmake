# The text rendering of arbitrary bytes; what it renders must read back to a stream
# that renders to the same text.
quorvane_fuzz_target(object_binary_text SOURCES object_binary_text_fuzz.cpp DEPENDS quorvane::model)
