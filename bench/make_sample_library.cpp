// make-sample-library demo DIR | bench DIR FILES | varied DIR FILES
// Writes the demo sample or a benchmark library into DIR (made if missing);
// "varied" gives every artist, album and title a name of its own.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sample_library.h"

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (argc < 3 || (mode != "demo" && mode != "bench" && mode != "varied")) {
    std::fprintf(stderr, "usage: %s demo DIR | bench DIR FILES | varied DIR FILES\n", argv[0]);
    return 2;
  }
  try {
    if (mode == "demo") {
      tarvel::sample::MakeDemoLibrary(argv[2]);
    } else {
      std::size_t files = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 100000;
      std::size_t n = tarvel::sample::MakeBenchLibrary(
          argv[2], files, 20, 1,
          mode == "varied" ? tarvel::sample::Names::kVaried : tarvel::sample::Names::kRepeated);
      std::printf("%zu files written to %s\n", n, argv[2]);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
