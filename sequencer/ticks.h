// The tick: the sequencer performs one step at each firing of the tick timer, and every wait
// and budget of a run is a number of ticks of this length. Front ends that turn ticks into
// time (time-outs, estimates, benchmarks' bounds) take it from here.
#pragma once

inline constexpr int kTickMs = 60;
inline constexpr double kTickSeconds = kTickMs / 1000.0;

// How long `ticks` ticks last, in seconds.
constexpr double TicksToSeconds(int ticks) {
  return ticks * kTickSeconds;
}
