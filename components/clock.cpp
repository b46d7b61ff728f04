#include "components/clock.h"

#include <chrono>
#include <cmath>
#include <ctime>

std::tm LocalTime(std::time_t t) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &t);
#else
  localtime_r(&t, &local);
#endif
  return local;
}

double SystemClock::TimeOfDay() const {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::tm local = LocalTime(system_clock::to_time_t(now));
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  const double seconds = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + ms / 1000.0;
  return seconds / 86400.0;
}

std::string LongTimeText(double dayFraction) {
  double f = dayFraction - std::floor(dayFraction);
  long total = std::lround(f * 86400.0);
  if (total >= 86400) total -= 86400;
  std::tm tm{};
  tm.tm_hour = static_cast<int>(total / 3600);
  tm.tm_min = static_cast<int>((total / 60) % 60);
  tm.tm_sec = static_cast<int>(total % 60);
  tm.tm_mday = 1;
  tm.tm_year = 100;
  char buffer[64];
  const std::size_t n = std::strftime(buffer, sizeof buffer, "%X", &tm);
  return std::string(buffer, n);
}
