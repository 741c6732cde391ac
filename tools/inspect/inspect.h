// quorvane-inspect: shows and converts object files, bare object streams, their
// text renderings and frame files, for support engineers and tests. Every
// operation reads whole files; errors are exceptions carrying the reader's own
// message (Windows-1252). Single-threaded.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvane::inspect {

enum class InputForm { BareStream, TextRendering, ObjectFile, FrameFile };

InputForm DetectForm(std::string_view bytes);

// The bare object stream held by any of the input forms (not frame files).
std::string ObjectStreamOf(std::string_view bytes);

// What `quorvane-inspect text` prints: the text rendering of the object, preceded
// for a frame file by its header fields (Windows-1252).
std::string TextOf(std::string_view bytes);

// Reads the input into a new instance of its registered class and writes it
// again: as a bare object stream when mode is empty, else as an object file of
// mode 'T', 'B' or 'C' at out_path. Returns the bytes written.
void Convert(std::string_view input, const std::string& out_path, std::optional<char> mode);

// The command line: returns the exit status; messages go to the given streams.
int Main(int argc, char** argv);

}  // namespace quorvane::inspect
