#include "platform/linux/LinuxClock.h"

#include <time.h>

namespace cloakline {

namespace {

// Days from 1970-01-01 to the proleptic Gregorian date (month 1..12).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

constexpr std::int64_t kDaysFrom1899To1970 = 25569;

}  // namespace

TDateTime DateTimeFromCalendar(const std::tm& local, int milliseconds) {
    const std::int64_t days = DaysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                                            static_cast<unsigned>(local.tm_mday)) +
                              kDaysFrom1899To1970;
    const double msOfDay =
        ((local.tm_hour * 60.0 + local.tm_min) * 60.0 + local.tm_sec) * 1000.0 + milliseconds;
    return static_cast<double>(days) + msOfDay / 86400000.0;
}

TDateTime LinuxClock::Now() const {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    ::localtime_r(&now.tv_sec, &local);
    return DateTimeFromCalendar(local, static_cast<int>(now.tv_nsec / 1000000));
}

std::uint32_t LinuxClock::TickCount() const {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const auto ms =
        static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

}  // namespace cloakline
