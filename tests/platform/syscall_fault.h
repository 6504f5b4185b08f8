// Makes one system call fail in this process from now on, as it fails on an
// older kernel, in a container whose seccomp profile does not know the call,
// or on a network file system without its lock service. It cannot be undone:
// use it in the child process of a death test (EXPECT_EXIT).
#ifndef TARVEL_TESTS_PLATFORM_SYSCALL_FAULT_H_
#define TARVEL_TESTS_PLATFORM_SYSCALL_FAULT_H_

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>

#include <cstddef>
#include <cstdint>

namespace tarvel::testing {

// False when the filter cannot be installed.
inline bool FailSystemCall(long number, int error) {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(number), 0, 1),
      BPF_STMT(BPF_RET | BPF_K,
               SECCOMP_RET_ERRNO | (static_cast<uint32_t>(error) & SECCOMP_RET_DATA)),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

}  // namespace tarvel::testing

#endif  // TARVEL_TESTS_PLATFORM_SYSCALL_FAULT_H_
