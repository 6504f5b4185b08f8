// process-floor plan|real DIR
// The least a program can do to a library as a process of its own: walk
// the tree and read the last 128 bytes of every MP3 file (plan), and also
// write those bytes back changed and rename every file and folder (real).
// The whole-process benchmark starts it beside tarvel-cli on the same tree.
#include <cstdio>
#include <string>

#include "floor.h"

int main(int argc, char** argv) {
  const std::string mode = argc == 3 ? argv[1] : "";
  if (mode != "plan" && mode != "real") {
    std::fprintf(stderr, "usage: %s plan|real DIR\n", argv[0]);
    return 2;
  }
  const tarvel::bench::FloorCounts counts =
      mode == "plan" ? tarvel::bench::PlanFloor(argv[2]) : tarvel::bench::RealRunFloor(argv[2]);
  std::printf("%zu folders, %zu files\n", counts.folders, counts.files);
  return counts.files > 0 ? 0 : 1;
}
