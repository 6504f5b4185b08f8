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

// The process's processor time so far (user and system, all threads), in
// seconds. On a busy machine it shows what a stretch of work cost where the
// wall clock also counts the time other processes had the cores.
inline double ProcessorSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace tarvel::bench

#endif  // TARVEL_BENCH_BENCH_SUPPORT_H_
