// The bare cost of what a run must do to a library, measured with plain
// system calls and no program logic: the floor that the program's own
// figures are compared with.
#ifndef TARVEL_BENCH_FLOOR_H_
#define TARVEL_BENCH_FLOOR_H_

#include <cstddef>
#include <filesystem>

namespace tarvel::bench {

struct FloorCounts {
  std::size_t folders = 0;
  std::size_t files = 0;
};

// What a plan must at least do: walk the tree (every folder opened and
// listed) and open, pread the last 128 bytes of, and close every .mp3 file.
FloorCounts PlanFloor(const std::filesystem::path& root);

// What a real run must at least do on top of the plan: pwrite a 128-byte
// block over the last 128 bytes of every file, renameat2 every file and then
// every folder below the root (deepest first) to a new name beside it.
// Changes the library: run it on a copy that is thrown away.
FloorCounts RealRunFloor(const std::filesystem::path& root);

}  // namespace tarvel::bench

#endif  // TARVEL_BENCH_FLOOR_H_
