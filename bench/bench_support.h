// Small pieces shared by the benchmarks.
#ifndef TARVEL_BENCH_BENCH_SUPPORT_H_
#define TARVEL_BENCH_BENCH_SUPPORT_H_

#include <sys/resource.h>

namespace tarvel::bench {

// The process's peak resident memory so far, in megabytes.
inline double PeakMegabytes() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
}

}  // namespace tarvel::bench

#endif  // TARVEL_BENCH_BENCH_SUPPORT_H_
