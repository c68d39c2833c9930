#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/foundation/HostZoneFiles.h"

namespace {

using tw::hostzone::zoneFileNamedByTz;

// The date helpers read the zone from this file and the zone monitor watches it: a spelling read
// wrongly here sends both to the wrong file, or one to a file for a rule string.
TEST(HostZoneFiles, TzNamesAFileOnlyInTheCLibrarysSpellings) {
  EXPECT_EQ(zoneFileNamedByTz("/etc/zones/here"), "/etc/zones/here");
  EXPECT_EQ(zoneFileNamedByTz(":/etc/zones/here"), "/etc/zones/here");
  EXPECT_EQ(zoneFileNamedByTz(":Europe/Berlin"), "/usr/share/zoneinfo/Europe/Berlin");
  EXPECT_EQ(zoneFileNamedByTz("Europe/Berlin"), std::nullopt);  // a name or a rule, not a file
  EXPECT_EQ(zoneFileNamedByTz("CET-1CEST,M3.5.0,M10.5.0/3"), std::nullopt);
  EXPECT_EQ(zoneFileNamedByTz(""), std::nullopt);  // UTC, from no file
  EXPECT_EQ(zoneFileNamedByTz(":"), std::nullopt);
}

}  // namespace
