// Writes the inputs of bench/inspect_vs_cp.py:
//   inspect_make_input stream PATH MIB   a bare object stream of a TSOFile whose
//                                        payload is MIB mebibytes of varied bytes
//   inspect_make_input bomb PATH MIB     a compressed object file ("C") whose block
//                                        decodes to MIB mebibytes of zeros
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "model/object_stream.h"
#include "objects/files.h"
#include "objects/register_classes.h"
#include "transport/bzip_block.h"
#include "util/atomic_file.h"

int main(int argc, char** argv) {
  using namespace quorvane;
  if (argc != 4) {
    std::fputs("usage: inspect_make_input stream|bomb PATH MIB\n", stderr);
    return 2;
  }
  RegisterClasses();
  const std::size_t size = std::strtoull(argv[3], nullptr, 10) << 20;
  std::string bytes;
  if (std::strcmp(argv[1], "stream") == 0) {
    TSOFile file;
    file.SetName("Payload");
    file.xFileName = "payload.bin";
    file.xData.resize(size);
    std::uint32_t state = 12345;
    for (char& c : file.xData) {
      state = state * 1103515245u + 12345u;
      c = static_cast<char>(state >> 24);
    }
    file.xFileSize = static_cast<std::int32_t>(size);
    bytes = ObjectToStream(file);
  } else {
    const std::string zeros(size, '\0');
    bytes = "C" + CompressBlock(zeros.data(), zeros.size(), 9);
  }
  if (!WriteFileAtomically(argv[2], bytes)) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }
  std::printf("%zu\n", bytes.size());
  return 0;
}
