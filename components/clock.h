// Time of day as the program keeps it: a fraction of a day, local time.
#pragma once

#include <ctime>
#include <string>

class IClock {
 public:
  virtual ~IClock() = default;
  // Local time of day as a fraction of a day (0 at midnight, 0.5 at noon).
  virtual double TimeOfDay() const = 0;
};

class SystemClock final : public IClock {
 public:
  double TimeOfDay() const override;
};

// A time of day in the locale's long time format (hours, minutes, seconds; "14:03:25" or
// "2:03:25 PM"). The day fraction is taken modulo one day.
std::string LongTimeText(double dayFraction);

// `t` broken down in local time, on either platform.
std::tm LocalTime(std::time_t t);
