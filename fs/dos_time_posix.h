// Local DOS date-times (date in the high 16 bits, time in the low 16 bits,
// whole seconds rounded down to an even number) and POSIX times. POSIX only.
#pragma once

#include <time.h>

#include <cstdint>

// The DOS date-time of When in local time; false outside the years 1980 to
// 2107, which the DOS date cannot hold.
bool ToLocalDosTime(time_t When, uint32_t& DosTime);

// The time of a local DOS date-time; false for a date or time that does not
// exist.
bool FromLocalDosTime(uint32_t DosTime, time_t& When);
