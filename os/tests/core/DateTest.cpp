#include <gtest/gtest.h>

#include <cstdint>

#include "os/core/Date.h"

namespace os {
namespace {

// Days of known dates both ways, on either side of 1970 and of the year 0, across the leap days
// the century rules give or withhold.
TEST(Date, CivilDaysReadBothWays) {
  struct Known {
    std::int64_t days;
    CivilDate date;
  };
  const Known known[] = {{0, {1970, 1, 1}},         {-1, {1969, 12, 31}},     {11323, {2001, 1, 1}},
                         {11016, {2000, 2, 29}},    {-25508, {1900, 3, 1}},   {-719468, {0, 3, 1}},
                         {-719469, {0, 2, 29}},     {-719834, {-1, 3, 1}},    {2932896, {9999, 12, 31}}};
  for (const Known& k : known) {
    EXPECT_EQ(daysFromCivil(k.date.year, k.date.month, k.date.day), k.days) << k.days;
    const CivilDate back = civilFromDays(k.days);
    EXPECT_EQ(back.year, k.date.year) << k.days;
    EXPECT_EQ(back.month, k.date.month) << k.days;
    EXPECT_EQ(back.day, k.date.day) << k.days;
  }
  EXPECT_EQ(daysInMonth(1900, 2), 28u);
  EXPECT_EQ(daysInMonth(2000, 2), 29u);
  EXPECT_EQ(daysInMonth(-4, 2), 29u);
  EXPECT_EQ(floorDivide(-1, 86400), -1);
  EXPECT_EQ(floorDivide(-86400, 86400), -1);
  EXPECT_EQ(floorDivide(86399, 86400), 0);
}

// Far from 1970 in both directions every day still reads back to itself.
TEST(Date, FarDaysReadBack) {
  const std::int64_t far = (std::int64_t{1} << 62) / 86400 + 1000000;
  for (std::int64_t days : {far, -far, far / 3, -far / 7}) {
    const CivilDate date = civilFromDays(days);
    EXPECT_EQ(daysFromCivil(date.year, date.month, date.day), days) << days;
  }
}

}  // namespace
}  // namespace os
