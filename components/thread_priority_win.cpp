#include <windows.h>

#include "components/thread_priority.h"

void SetCurrentThreadPriority(TThreadPriority priority) {
  static constexpr int kLevels[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                    THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                    THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                    THREAD_PRIORITY_TIME_CRITICAL};
  SetThreadPriority(GetCurrentThread(), kLevels[priority]);
}

// A thread's description needs a newer Windows than the program asks for.
void NameCurrentThread(const char*) {}
