// make-sample-library demo DIR | bench DIR FILES
// Writes the demo sample or a benchmark library into DIR (made if missing).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sample_library.h"

int main(int argc, char** argv) {
  if (argc < 3 || (std::string(argv[1]) != "demo" && std::string(argv[1]) != "bench")) {
    std::fprintf(stderr, "usage: %s demo DIR | bench DIR FILES\n", argv[0]);
    return 2;
  }
  try {
    if (std::string(argv[1]) == "demo") {
      tarvel::sample::MakeDemoLibrary(argv[2]);
    } else {
      std::size_t files = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 100000;
      std::size_t n = tarvel::sample::MakeBenchLibrary(argv[2], files);
      std::printf("%zu files written to %s\n", n, argv[2]);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
