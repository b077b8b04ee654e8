// Makes seeds for fuzz_library_coff_object from clang-built routine objects:
// each object prepared as `tarnlib build` prepares it (entries, specials and
// host-service references renamed), written as its routine prefix, LF, and
// the image.
//   object_seeds OUTDIR OBJECT...
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/tarnlib/library_objects.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: object_seeds OUTDIR OBJECT...\n");
    return 2;
  }
  int failed = 0;
  for (int i = 2; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LibraryObject obj;
    std::string error;
    // Routine objects go to section 2, the others (helpers, hooks) to 0.
    if (!PrepareLibraryObject(image, 2, &obj, &error) && !PrepareLibraryObject(image, 0, &obj, &error)) {
      fprintf(stderr, "%s: %s\n", argv[i], error.c_str());
      failed = 1;
      continue;
    }
    std::string name = argv[i];
    name = name.substr(name.find_last_of('/') + 1);
    name = name.substr(0, name.find('.'));
    std::ofstream out(std::string(argv[1]) + "/" + name, std::ios::binary | std::ios::trunc);
    out << obj.prefix << '\n';
    out.write((const char*)obj.image.data(), (std::streamsize)obj.image.size());
  }
  return failed;
}
