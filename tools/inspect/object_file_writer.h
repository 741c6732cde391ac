// Writes an object as an object file ("T" text, "B" binary or "C" compressed,
// then the object stream) at a path taken as it is given, relative to the
// current folder, through the object's own save path: the object leaves out its
// routing properties as in every object file. Single-threaded.
#pragma once

#include <string>

namespace quorvane {
class TZelObject;
}

namespace quorvane::inspect {

// mode: 'T', 'B' or 'C'. Throws InspectError naming the file and the reason.
void WriteObjectFile(TZelObject& object, const std::string& path, char mode);

}  // namespace quorvane::inspect
