#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "components/thread_priority.h"

void SetCurrentThreadPriority(TThreadPriority priority) {
  // Time-critical asks for real-time scheduling; that needs a privilege most users lack.
  if (priority == tpTimeCritical) {
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 10;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) return;
  } else {
    sched_param param{};
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
  }
  // Otherwise the thread's nice value; lowering it below the present value may be refused.
  static constexpr int kNice[] = {19, 10, 5, 0, -5, -10, -15};
  const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  setpriority(PRIO_PROCESS, tid, kNice[priority]);
}

void NameCurrentThread(const char* name) {
  pthread_setname_np(pthread_self(), name);
}
