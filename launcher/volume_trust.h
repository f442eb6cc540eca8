#pragma once

#include <windows.h>
#include <winioctl.h>

// Which volumes an elevated run may trust at all: only a volume of a fixed
// disk that stays in this machine. SYSTEM, Administrators and
// TrustedInstaller have the same SIDs on every machine, so a disk that can
// be carried to another one may hold files that "only Administrators may
// change", laid out there by anyone.

// What a volume's storage device says of itself, where it answers.
struct DeviceAnswers {
  bool described = false;  // IOCTL_STORAGE_QUERY_PROPERTY answered
  STORAGE_BUS_TYPE bus = BusTypeUnknown;
  bool removableMedia = false;
  bool hotplugKnown = false;  // IOCTL_STORAGE_GET_HOTPLUG_INFO answered
  bool deviceHotplug = false;
  bool mediaRemovable = false;
};

// What makes the disk behind a fixed drive untrusted, from its device's
// answers: "a fixed disk on a USB bus", "a disk with removable media", "a
// hot-plug disk"; null for one that stays in the machine, and for a device
// that answers nothing, where the drive type alone decides.
const char* PortableDiskKind(const DeviceAnswers& answers);

// What makes the drive at `root` ("X:\") untrusted: its kind ("a CD-ROM
// drive", "a drive letter that names a folder, not a volume", or a portable
// disk's); null for the root of a fixed disk's volume that stays in the
// machine.
const char* UntrustedDriveKind(const wchar_t* root);
