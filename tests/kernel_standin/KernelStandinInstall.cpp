// Installs the kernel stand-in into the Wine prefix it runs in, or removes it.
//   KernelStandinInstall install DRIVER.sys MEMBER...   MEMBER: vendor:product:ready:packet sizes, in hex
//   KernelStandinInstall remove
// Each member is registered as a root device with an interface of the driver's class, listed in
// the order given; the driver serves them all. Exit code 0 on success; a failure says why.
#include <windows.h>
// windows.h first: SetupAPI's header relies on its types.
#include <setupapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link/DriverCalls.h"
#include "tests/kernel_standin/KernelStandin.h"

namespace {
const char kClasses[] = "System\\CurrentControlSet\\Control\\DeviceClasses\\";
const char kEnum[] = "System\\CurrentControlSet\\Enum\\ROOT\\" STANDIN_DEVICE_ID;
const char kSysFile[] = "C:\\windows\\system32\\drivers\\" STANDIN_SERVICE ".sys";

const GUID kInterfaceClass = DRIVER_CLASS_GUID;

bool Fail(const char* what, DWORD error = GetLastError()) {
  std::fprintf(stderr, "KernelStandinInstall: %s failed (error %lu)\n", what, error);
  return false;
}

// Waits for the service to leave its pending state.
DWORD SettledState(SC_HANDLE service) {
  SERVICE_STATUS status = {};
  for (int i = 0; i < 200 && QueryServiceStatus(service, &status); ++i) {
    if (status.dwCurrentState != SERVICE_START_PENDING && status.dwCurrentState != SERVICE_STOP_PENDING)
      break;
    Sleep(50);
  }
  return status.dwCurrentState;
}

void Remove() {
  if (SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
    if (SC_HANDLE service = OpenServiceA(manager, STANDIN_SERVICE, SERVICE_ALL_ACCESS)) {
      SERVICE_STATUS status;
      if (ControlService(service, SERVICE_CONTROL_STOP, &status)) SettledState(service);
      DeleteService(service);
      CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
  }
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kClasses + DriverClassText()).c_str());
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kEnum);
  DeleteFileA(kSysFile);
  DeleteFileA(STANDIN_RECORD_PATH);
}

// Registers one root device with an interface of the driver's class and lists it; gives the
// interface's device path.
bool AddMember(HDEVINFO set, std::string& path) {
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  if (!SetupDiCreateDeviceInfoA(set, STANDIN_DEVICE_ID, &kInterfaceClass, nullptr, nullptr, DICD_GENERATE_ID,
                                &device))
    return Fail("SetupDiCreateDeviceInfoA");
  if (!SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr))
    return Fail("SetupDiRegisterDeviceInfo");
  SP_DEVICE_INTERFACE_DATA data = {};
  data.cbSize = sizeof data;
  if (!SetupDiCreateDeviceInterfaceA(set, &device, &kInterfaceClass, nullptr, 0, &data))
    return Fail("SetupDiCreateDeviceInterfaceA");
  char buffer[512] = {};
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer);
  detail->cbSize = sizeof *detail;
  if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof buffer, nullptr, nullptr))
    return Fail("SetupDiGetDeviceInterfaceDetailA");
  path = detail->DevicePath;
  // SetupAPI lists an interface as present only once its Control key says it is linked.
  std::string key = kClasses + DriverClassText() + "\\##?#" + path.substr(4) + "\\#\\Control";
  const DWORD linked = 1;
  if (LSTATUS error =
          RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), "Linked", REG_DWORD, &linked, sizeof linked))
    return Fail("marking the interface linked", error);
  return true;
}

bool Install(const char* driverFile, std::vector<StandinMember> members) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(&kInterfaceClass, nullptr);
  if (set == INVALID_HANDLE_VALUE) return Fail("SetupDiCreateDeviceInfoList");
  bool ok = true;
  for (StandinMember& member : members) {
    std::string path;
    if (!(ok = AddMember(set, path))) break;
    const std::string link = "\\DosDevices\\" + path.substr(4);
    member.linkLength = static_cast<unsigned short>(std::min<std::size_t>(link.size(), STANDIN_LINK_CHARS));
    std::copy(link.begin(), link.begin() + member.linkLength, member.link);
  }
  SetupDiDestroyDeviceInfoList(set);
  if (!ok) return false;
  if (!CopyFileA(driverFile, kSysFile, FALSE)) return Fail("copying the driver");

  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return Fail("OpenSCManagerA");
  SC_HANDLE service = CreateServiceA(manager, STANDIN_SERVICE, STANDIN_SERVICE, SERVICE_ALL_ACCESS,
                                     SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                     kSysFile, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (!service) ok = Fail("CreateServiceA");
  if (ok) {
    if (LSTATUS error = RegSetKeyValueA(
            HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\" STANDIN_SERVICE, "Members",
            REG_BINARY, members.data(), static_cast<DWORD>(members.size() * sizeof(StandinMember))))
      ok = Fail("storing the members", error);
  }
  if (ok && !StartServiceA(service, 0, nullptr)) ok = Fail("StartServiceA");
  if (ok && SettledState(service) != SERVICE_RUNNING) ok = Fail("starting the driver");
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return ok;
}

// "31d4:008e:1:40:200": vendor 0x31D4, product 0x008E, ready, packets of 64 bytes out and 512 in.
bool ParseMember(const char* text, std::vector<StandinMember>& members) {
  StandinMember m = {};
  if (std::sscanf(text, "%hx:%hx:%hx:%hx:%hx", &m.vendor, &m.product, &m.ready, &m.packetSize0,
                  &m.packetSize1) != 5)
    return false;
  members.push_back(m);
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "remove") == 0) {
    Remove();
    return 0;
  }
  std::vector<StandinMember> members;
  bool usage = argc < 3 || std::strcmp(argv[1], "install") != 0;
  for (int i = 3; !usage && i < argc; ++i) usage = !ParseMember(argv[i], members);
  if (usage) {
    std::fprintf(stderr,
                 "usage: KernelStandinInstall install DRIVER.sys [vendor:product:ready:packet0:packet1]... | "
                 "remove\n");
    return 2;
  }
  Remove();
  return Install(argv[2], members) ? 0 : 1;
}
