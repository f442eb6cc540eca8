// Which disks an elevated run trusts, decided on what their devices answer:
// Wine's answer no bus a disk can be carried away on, so the answers here
// are made up, one row for each kind of answer.
#include "launcher/volume_trust.h"

#include <gtest/gtest.h>

TEST(VolumeTrust, OnlyADiskThatStaysInTheMachineIsTrusted) {
  const struct {
    DeviceAnswers answers;  // described, bus, removable media, hot plug known, device hot plug, media removable
    const char* kind;
  } rows[] = {
      {{}, nullptr},  // no answer at all: the drive type decides
      {{true, BusTypeSata, false, true}, nullptr},
      {{true, BusTypeUsb}, "a fixed disk on a USB bus"},
      {{true, BusTypeSd}, "a fixed disk on an SD bus"},
      {{true, BusTypeSata, true}, "a disk with removable media"},
      {{true, BusTypeNvme, false, true, true}, "a hot-plug disk"},  // Thunderbolt, USB4
      {{false, BusTypeUnknown, false, true, true}, "a hot-plug disk"},
      {{false, BusTypeUnknown, false, true, false, true}, "a disk with removable media"},
  };
  for (const auto& row : rows) {
    const DeviceAnswers& a = row.answers;
    EXPECT_STREQ(PortableDiskKind(a), row.kind) << a.described << " bus " << a.bus << " " << a.removableMedia << " "
                                                << a.hotplugKnown << " " << a.deviceHotplug << " " << a.mediaRemovable;
  }
}
