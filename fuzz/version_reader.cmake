# The version reader on arbitrary bytes: whole PE images and bare version blocks.
quorvane_fuzz_target(version_reader SOURCES version_reader_fuzz.cpp DEPENDS quorvane::util)
