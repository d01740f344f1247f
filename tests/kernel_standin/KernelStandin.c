/* The kernel stand-in: a test-only driver in the place of the deck maker's, loaded by Wine into
   winedevice.exe. Each member of its interface class is a device object of its own that answers
   the descriptor and ready-state I/O controls; every request that reaches a member is appended to
   the record. Pipes are not served: Wine 8 passes no name below a device object to its driver. */
#include <ntddk.h>
#include <stdio.h>

#include "link/DriverWire.h"
#include "tests/kernel_standin/KernelStandin.h"

typedef struct Member {
  ULONG index;
  StandinMember deck;
} Member;

static const ULONG kPoolTag = 0x6B636544; /* "Deck" */
static KMUTEX recordLock;

static void Record(const char* line) {
  UNICODE_STRING name;
  OBJECT_ATTRIBUTES attributes;
  IO_STATUS_BLOCK io;
  HANDLE file;
  RtlInitUnicodeString(&name, L"\\??\\" STANDIN_RECORD_PATH);
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  KeWaitForSingleObject(&recordLock, Executive, KernelMode, FALSE, NULL);
  if (NT_SUCCESS(ZwCreateFile(&file, FILE_APPEND_DATA | SYNCHRONIZE, &attributes, &io, NULL,
                              FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN_IF,
                              FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0))) {
    ZwWriteFile(file, NULL, NULL, NULL, &io, (PVOID)line, (ULONG)strlen(line), NULL, NULL);
    ZwClose(file);
  }
  KeReleaseMutex(&recordLock, FALSE);
}

/* The member's device descriptor, or the deck's configuration with the member's packet sizes, cut
   to the caller's size. */
static ULONG Descriptor(const Member* member, UCHAR type, UCHAR* out, ULONG room) {
  UCHAR block[DRIVER_DECK_CONFIG_LENGTH];
  ULONG size = sizeof block;
  if (type == DRIVER_DEVICE_DESCRIPTOR_TYPE) {
    DriverDeviceDescriptor(block, member->deck.vendor, member->deck.product);
    size = DRIVER_DEVICE_DESCRIPTOR_LENGTH;
  } else if (type == DRIVER_CONFIG_DESCRIPTOR_TYPE) {
    DriverConfigDescriptor(block, member->deck.packetSize0, member->deck.packetSize1);
  } else {
    return 0;
  }
  if (size > room) size = room;
  memcpy(out, block, size);
  return size;
}

static NTSTATUS DeviceControl(const Member* member, ULONG pid, PIO_STACK_LOCATION stack, UCHAR* buffer,
                              ULONG* returned, char* line, int room) {
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
  int at = _snprintf(line, room, "ioctl %lu %lu %lx%s", member->index, pid, code, inSize ? " " : "");
  for (ULONG i = 0; i < inSize && at < room - 3; ++i) at += _snprintf(line + at, 3, "%02x", buffer[i]);
  switch (code) {
    case DRIVER_DESCRIPTOR:
      *returned = inSize >= 1 ? Descriptor(member, buffer[0], buffer, outSize) : 0;
      return *returned ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
    case DRIVER_READY:
      if (outSize < 4) return STATUS_BUFFER_TOO_SMALL;
      *(ULONG*)buffer = member->deck.ready;
      *returned = 4;
      return STATUS_SUCCESS;
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
}

static NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp) {
  const Member* member = device->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  /* The process on whose behalf the request came; a handle that Wine closes because its process
     has ended is closed on behalf of winedevice.exe itself. */
  const ULONG pid = (ULONG)(ULONG_PTR)PsGetCurrentProcessId();
  NTSTATUS status = STATUS_SUCCESS;
  ULONG returned = 0;
  char line[128];
  switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
      _snprintf(line, sizeof line, "create %lu %lu", member->index, pid);
      break;
    case IRP_MJ_CLOSE:
      _snprintf(line, sizeof line, "close %lu %lu", member->index, pid);
      break;
    case IRP_MJ_CLEANUP:
      line[0] = 0;
      break;
    case IRP_MJ_DEVICE_CONTROL:
      status = DeviceControl(member, pid, stack, irp->AssociatedIrp.SystemBuffer, &returned, line,
                             sizeof line - 1);
      break;
    default:
      _snprintf(line, sizeof line, "irp %lu %lu %u", member->index, pid, stack->MajorFunction);
      status = STATUS_INVALID_DEVICE_REQUEST;
  }
  if (line[0]) {
    const size_t end = strlen(line);
    line[end] = '\n';
    line[end + 1] = 0;
    Record(line);
  }
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = returned;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static UNICODE_STRING LinkName(Member* member) {
  UNICODE_STRING link;
  link.Buffer = member->deck.link;
  link.Length = link.MaximumLength = member->deck.linkLength * sizeof(WCHAR);
  return link;
}

static void Unload(PDRIVER_OBJECT driver) {
  while (driver->DeviceObject) {
    UNICODE_STRING link = LinkName(driver->DeviceObject->DeviceExtension);
    IoDeleteSymbolicLink(&link);
    IoDeleteDevice(driver->DeviceObject);
  }
}

/* The members as the installer stored them in the service key. */
static NTSTATUS ReadMembers(PUNICODE_STRING registryPath, KEY_VALUE_PARTIAL_INFORMATION** info) {
  OBJECT_ATTRIBUTES attributes;
  UNICODE_STRING value;
  HANDLE key;
  ULONG size = 0;
  NTSTATUS status;
  InitializeObjectAttributes(&attributes, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  status = ZwOpenKey(&key, KEY_READ, &attributes);
  if (!NT_SUCCESS(status)) return status;
  RtlInitUnicodeString(&value, L"Members");
  ZwQueryValueKey(key, &value, KeyValuePartialInformation, NULL, 0, &size);
  *info = size ? ExAllocatePoolWithTag(PagedPool, size, kPoolTag) : NULL;
  status =
      *info ? ZwQueryValueKey(key, &value, KeyValuePartialInformation, *info, size, &size) : STATUS_NOT_FOUND;
  ZwClose(key);
  return status;
}

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  KEY_VALUE_PARTIAL_INFORMATION* info = NULL;
  NTSTATUS status = ReadMembers(registryPath, &info);
  KeInitializeMutex(&recordLock, 0);
  for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) driver->MajorFunction[major] = Dispatch;
  driver->DriverUnload = Unload;
  const ULONG count = NT_SUCCESS(status) ? info->DataLength / sizeof(StandinMember) : 0;
  for (ULONG i = 0; NT_SUCCESS(status) && i < count; ++i) {
    WCHAR text[32];
    UNICODE_STRING name, link;
    PDEVICE_OBJECT device;
    _snwprintf(text, 32, L"\\Device\\KernelStandin%lu", i);
    RtlInitUnicodeString(&name, text);
    status = IoCreateDevice(driver, sizeof(Member), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) break;
    device->Flags |= DO_BUFFERED_IO;
    Member* member = device->DeviceExtension;
    member->index = i;
    memcpy(&member->deck, (StandinMember*)info->Data + i, sizeof(StandinMember));
    link = LinkName(member);
    status = IoCreateSymbolicLink(&link, &name);
  }
  if (info) ExFreePoolWithTag(info, kPoolTag);
  if (!NT_SUCCESS(status)) Unload(driver);
  return status;
}
