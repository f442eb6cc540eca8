#include "launcher/volume_trust.h"

#include "support/unique_handle.h"

namespace {

// What GetDriveTypeW's answers (0 to 6) are called.
constexpr const char* DriveKinds[] = {
    "a drive of unknown type", "no drive", "a removable drive", "a fixed disk", "a network drive", "a CD-ROM drive",
    "a RAM disk"};
constexpr const char* FolderLetter = "a drive letter that names a folder, not a volume";
constexpr const char* RemovableMediaDisk = "a disk with removable media";
// eSATA, Thunderbolt and USB4 enclosures report a fixed bus (SATA, NVMe)
// and are told apart only by this.
constexpr const char* HotplugDisk = "a hot-plug disk";
// Buses a disk can be unplugged from and carried to another machine.
constexpr struct {
  STORAGE_BUS_TYPE bus;
  const char* kind;
} PortableBuses[] = {
    {BusTypeUsb, "a fixed disk on a USB bus"},
    {BusType1394, "a fixed disk on a 1394 bus"},
    {BusTypeSd, "a fixed disk on an SD bus"},
    {BusTypeMmc, "a fixed disk on an MMC bus"},
};
// The longest volume GUID path, "\\?\Volume{GUID}\", and its terminator.
constexpr DWORD VolumeNameCapacity = 50;

// True when `root` is a volume's root. A letter that subst, DefineDosDevice
// or the DOS Devices key maps onto a folder is not: its folder's parents,
// which another account may be able to swap, would go unjudged, and the
// device asked about the bus would be another letter's. The mount manager
// knows only volumes; and the folder a volume's letter opens is the root
// of its volume.
bool IsVolumeRoot(const wchar_t* root) {
  wchar_t volumeName[VolumeNameCapacity];
  if (!GetVolumeNameForVolumeMountPointW(root, volumeName, VolumeNameCapacity)) {
    return false;
  }
  UniqueHandle folder(CreateFileW(
      /* lpFileName */ root,
      /* dwDesiredAccess */ FILE_READ_ATTRIBUTES,
      /* dwShareMode */ FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      /* lpSecurityAttributes */ nullptr,
      /* dwCreationDisposition */ OPEN_EXISTING,
      /* dwFlagsAndAttributes: a folder */ FILE_FLAG_BACKUP_SEMANTICS,
      /* hTemplateFile */ nullptr));
  // Its path within its volume: "\" for the root, "\dir" for a folder.
  wchar_t within[2];
  return folder.IsValid() &&
         GetFinalPathNameByHandleW(folder.Get(), within, ARRAYSIZE(within), FILE_NAME_NORMALIZED | VOLUME_NAME_NONE) ==
             1 &&
         within[0] == L'\\';
}

// Asks the device of the volume at `root` what it is. The volume opened with
// no access rights answers any user; where it cannot be opened (Wine, for a
// drive that maps a host folder) it answers nothing.
DeviceAnswers AskDevice(const wchar_t* root) {
  DeviceAnswers answers;
  wchar_t volume[] = L"\\\\.\\?:";
  volume[4] = root[0];
  UniqueHandle device(CreateFileW(
      /* lpFileName */ volume,
      /* dwDesiredAccess */ 0,
      /* dwShareMode */ FILE_SHARE_READ | FILE_SHARE_WRITE,
      /* lpSecurityAttributes */ nullptr,
      /* dwCreationDisposition */ OPEN_EXISTING,
      /* dwFlagsAndAttributes */ 0,
      /* hTemplateFile */ nullptr));
  if (!device.IsValid()) {
    return answers;
  }
  STORAGE_PROPERTY_QUERY query = {};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  STORAGE_DEVICE_DESCRIPTOR properties = {};
  DWORD returned = 0;
  if (DeviceIoControl(
          /* hDevice */ device.Get(),
          /* dwIoControlCode */ IOCTL_STORAGE_QUERY_PROPERTY,
          /* lpInBuffer */ &query,
          /* nInBufferSize */ sizeof(query),
          /* lpOutBuffer */ &properties,
          /* nOutBufferSize */ sizeof(properties),
          /* lpBytesReturned */ &returned,
          /* lpOverlapped */ nullptr) &&
      returned >= sizeof(properties) - sizeof(properties.RawDeviceProperties)) {
    answers.described = true;
    answers.bus = properties.BusType;
    answers.removableMedia = properties.RemovableMedia != FALSE;
  }
  STORAGE_HOTPLUG_INFO hotplug = {};
  if (DeviceIoControl(
          /* hDevice */ device.Get(),
          /* dwIoControlCode */ IOCTL_STORAGE_GET_HOTPLUG_INFO,
          /* lpInBuffer */ nullptr,
          /* nInBufferSize */ 0,
          /* lpOutBuffer */ &hotplug,
          /* nOutBufferSize */ sizeof(hotplug),
          /* lpBytesReturned */ &returned,
          /* lpOverlapped */ nullptr) &&
      returned >= sizeof(hotplug)) {
    answers.hotplugKnown = true;
    answers.deviceHotplug = hotplug.DeviceHotplug != FALSE;
    answers.mediaRemovable = hotplug.MediaRemovable != FALSE;
  }
  return answers;
}

}  // namespace

const char* PortableDiskKind(const DeviceAnswers& answers) {
  if (answers.described) {
    for (const auto& portable : PortableBuses) {
      if (answers.bus == portable.bus) {
        return portable.kind;
      }
    }
  }
  if ((answers.described && answers.removableMedia) || (answers.hotplugKnown && answers.mediaRemovable)) {
    return RemovableMediaDisk;
  }
  return answers.hotplugKnown && answers.deviceHotplug ? HotplugDisk : nullptr;
}

const char* UntrustedDriveKind(const wchar_t* root) {
  UINT type = GetDriveTypeW(root);
  if (type != DRIVE_FIXED) {
    return DriveKinds[type < ARRAYSIZE(DriveKinds) ? type : DRIVE_UNKNOWN];
  }
  // Many USB sticks and every USB hard disk call themselves fixed: ask the
  // device.
  return IsVolumeRoot(root) ? PortableDiskKind(AskDevice(root)) : FolderLetter;
}
