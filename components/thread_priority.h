// Thread priorities of the program's worker threads, and how each platform grants them; and
// their names, which per-thread accounts (top -H, /proc/PID/task) show.
#pragma once

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Sets the calling thread's priority. Where the system does not permit a raise (an ordinary
// Linux user asking for real-time scheduling) the thread silently keeps what it has.
void SetCurrentThreadPriority(TThreadPriority priority);

// Names the calling thread (at most 15 characters); where the platform cannot, nothing happens.
void NameCurrentThread(const char* name);
