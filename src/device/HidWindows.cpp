#ifdef _WIN32
#include "device/HidWindows.h"

// windows.h first: the others need its types.
// clang-format off
#include <windows.h>
#include <winternl.h>  // NTSTATUS for hidpi.h
#include <setupapi.h>
// clang-format on

// mingw's HID headers lack C linkage guards; hidsdi.h brings hidusage.h and hidpi.h in order.
extern "C" {
#include <hidsdi.h>
}

#include <vector>

namespace korvel {

namespace {
using PHidD_GetHidGuid = void(WINAPI*)(LPGUID);
using PHidD_GetAttributes = BOOLEAN(WINAPI*)(HANDLE, PHIDD_ATTRIBUTES);
using PHidD_GetPreparsedData = BOOLEAN(WINAPI*)(HANDLE, PHIDP_PREPARSED_DATA*);
using PHidD_FreePreparsedData = BOOLEAN(WINAPI*)(PHIDP_PREPARSED_DATA);
using PHidP_GetCaps = NTSTATUS(WINAPI*)(PHIDP_PREPARSED_DATA, PHIDP_CAPS);
using PHidD_SetFeature = BOOLEAN(WINAPI*)(HANDLE, PVOID, ULONG);
using PHidD_GetFeature = BOOLEAN(WINAPI*)(HANDLE, PVOID, ULONG);

using PSetupDiGetClassDevsA = HDEVINFO(WINAPI*)(const GUID*, PCSTR, HWND, DWORD);
using PSetupDiEnumDeviceInterfaces = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD,
                                                   PSP_DEVICE_INTERFACE_DATA);
using PSetupDiGetDeviceInterfaceDetailA = BOOL(WINAPI*)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA,
                                                        PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD,
                                                        PDWORD, PSP_DEVINFO_DATA);
using PSetupDiDestroyDeviceInfoList = BOOL(WINAPI*)(HDEVINFO);

constexpr NTSTATUS kHidpStatusSuccess = NTSTATUS(0x00110000);
// The published HID interface class, for when hid.dll is not there to ask.
constexpr GUID kHidClassGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

template <typename F>
bool Resolve(HMODULE module, const char* name, F& fn) {
  fn = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return fn != nullptr;
}

HMODULE LoadSystemLibrary(const char* name) {
  return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}
}  // namespace

struct HidWindows::Libraries {
  HMODULE setupapi = nullptr;
  int setupapiRefs = 0;
  HMODULE hid = nullptr;
  int hidRefs = 0;

  PSetupDiGetClassDevsA GetClassDevs = nullptr;
  PSetupDiEnumDeviceInterfaces EnumDeviceInterfaces = nullptr;
  PSetupDiGetDeviceInterfaceDetailA GetDeviceInterfaceDetail = nullptr;
  PSetupDiDestroyDeviceInfoList DestroyDeviceInfoList = nullptr;

  PHidD_GetHidGuid GetHidGuid = nullptr;
  PHidD_GetAttributes GetAttributes = nullptr;
  PHidD_GetPreparsedData GetPreparsedData = nullptr;
  PHidD_FreePreparsedData FreePreparsedData = nullptr;
  PHidP_GetCaps GetCaps = nullptr;
  PHidD_SetFeature SetFeature = nullptr;
  PHidD_GetFeature GetFeature = nullptr;

  // Reference-counted: nested bindings share one load, the last release unloads.
  bool BindSetupApi() {
    if (setupapiRefs > 0) {
      ++setupapiRefs;
      return true;
    }
    setupapi = LoadSystemLibrary("setupapi.dll");
    if (!setupapi) return false;
    // Counts as bound only with every entry point.
    if (!Resolve(setupapi, "SetupDiGetClassDevsA", GetClassDevs) ||
        !Resolve(setupapi, "SetupDiEnumDeviceInterfaces", EnumDeviceInterfaces) ||
        !Resolve(setupapi, "SetupDiGetDeviceInterfaceDetailA", GetDeviceInterfaceDetail) ||
        !Resolve(setupapi, "SetupDiDestroyDeviceInfoList", DestroyDeviceInfoList)) {
      FreeLibrary(setupapi);
      setupapi = nullptr;
      return false;
    }
    setupapiRefs = 1;
    return true;
  }
  void ReleaseSetupApi() {
    if (setupapiRefs == 0) return;
    if (--setupapiRefs == 0) {
      FreeLibrary(setupapi);
      setupapi = nullptr;
    }
  }
  bool BindHid() {
    if (hidRefs > 0) {
      ++hidRefs;
      return true;
    }
    hid = LoadSystemLibrary("hid.dll");
    if (!hid) return false;
    if (!Resolve(hid, "HidD_GetHidGuid", GetHidGuid) ||
        !Resolve(hid, "HidD_GetAttributes", GetAttributes) ||
        !Resolve(hid, "HidD_GetPreparsedData", GetPreparsedData) ||
        !Resolve(hid, "HidD_FreePreparsedData", FreePreparsedData) ||
        !Resolve(hid, "HidP_GetCaps", GetCaps) || !Resolve(hid, "HidD_SetFeature", SetFeature) ||
        !Resolve(hid, "HidD_GetFeature", GetFeature)) {
      FreeLibrary(hid);
      hid = nullptr;
      return false;
    }
    hidRefs = 1;
    return true;
  }
  void ReleaseHid() {
    if (hidRefs == 0) return;
    if (--hidRefs == 0) {
      FreeLibrary(hid);
      hid = nullptr;
    }
  }
};

HidWindows::HidWindows() : libs_(new Libraries) {}

HidWindows::~HidWindows() {
  while (libs_->hidRefs > 0) libs_->ReleaseHid();
  while (libs_->setupapiRefs > 0) libs_->ReleaseSetupApi();
  delete libs_;
}

bool HidWindows::SetupApiBound() const {
  return libs_->setupapiRefs > 0;
}
bool HidWindows::HidBound() const {
  return libs_->hidRefs > 0;
}

unsigned long HidWindows::DetailHeaderSize() {
  return static_cast<unsigned long>(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
}

bool HidWindows::Bind() {
  if (!libs_->BindSetupApi()) return false;
  // hid.dll only on top of setupapi; without it the scan still runs on the published GUID.
  libs_->BindHid();
  return true;
}

void HidWindows::Release() {
  libs_->ReleaseHid();
  libs_->ReleaseSetupApi();
}

bool HidWindows::Enumerate(std::vector<HidInterfaceInfo>& out, bool withDetails) {
  out.clear();
  if (!SetupApiBound()) return false;
  GUID guid = kHidClassGuid;
  if (HidBound()) libs_->GetHidGuid(&guid);
  HDEVINFO list =
      libs_->GetClassDevs(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (list == INVALID_HANDLE_VALUE) return false;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    if (!libs_->EnumDeviceInterfaces(list, nullptr, &guid, index, &data)) break;
    DWORD size = 0;
    if (libs_->GetDeviceInterfaceDetail(list, &data, nullptr, 0, &size, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
      continue;
    std::vector<unsigned char> buffer(size + sizeof(char));
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = DetailHeaderSize();
    if (!libs_->GetDeviceInterfaceDetail(list, &data, detail, size, nullptr, nullptr)) continue;
    HidInterfaceInfo info;
    info.path = detail->DevicePath;
    if (withDetails) {
      const intptr_t h = Open(info.path);
      if (h != kNoHandle) {
        info.detailsKnown = GetAttributes(h, info.attributes) &&
                            GetFeatureReportByteLength(h, info.FeatureReportByteLength);
        Close(h);
      }
    }
    out.push_back(std::move(info));
  }
  libs_->DestroyDeviceInfoList(list);
  return true;
}

intptr_t HidWindows::Open(const std::string& path) {
  // Access 0: the system holds mouse and keyboard collections exclusively, and attribute,
  // capability and feature requests need no more.
  HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Failed();
    return kNoHandle;
  }
  lastError_ = 0;
  return reinterpret_cast<intptr_t>(h);
}

void HidWindows::Close(intptr_t handle) {
  if (handle != kNoHandle) CloseHandle(reinterpret_cast<HANDLE>(handle));
}

bool HidWindows::Failed(unsigned long error) {
  lastError_ = int(error);
  return false;
}

bool HidWindows::Failed() {
  return Failed(GetLastError());
}

bool HidWindows::GetAttributes(intptr_t handle, HidAttributes& attributes) {
  if (!HidBound()) return Failed(ERROR_MOD_NOT_FOUND);
  if (handle == kNoHandle) return Failed(ERROR_INVALID_HANDLE);
  HIDD_ATTRIBUTES a{};
  a.Size = sizeof(a);
  if (!libs_->GetAttributes(reinterpret_cast<HANDLE>(handle), &a)) return Failed();
  attributes.VendorID = a.VendorID;
  attributes.ProductID = a.ProductID;
  attributes.VersionNumber = a.VersionNumber;
  return true;
}

bool HidWindows::GetFeatureReportByteLength(intptr_t handle, uint16_t& length) {
  if (!HidBound()) return Failed(ERROR_MOD_NOT_FOUND);
  if (handle == kNoHandle) return Failed(ERROR_INVALID_HANDLE);
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!libs_->GetPreparsedData(reinterpret_cast<HANDLE>(handle), &preparsed)) return Failed();
  HIDP_CAPS caps{};
  const bool ok = libs_->GetCaps(preparsed, &caps) == kHidpStatusSuccess;
  libs_->FreePreparsedData(preparsed);
  if (!ok) return Failed(ERROR_INVALID_DATA);
  length = caps.FeatureReportByteLength;
  return true;
}

bool HidWindows::SetFeature(intptr_t handle, const uint8_t* buffer, size_t length) {
  if (!HidBound()) return Failed(ERROR_MOD_NOT_FOUND);
  if (handle == kNoHandle) return Failed(ERROR_INVALID_HANDLE);
  std::vector<uint8_t> copy(buffer, buffer + length);
  if (!libs_->SetFeature(reinterpret_cast<HANDLE>(handle), copy.data(), ULONG(length)))
    return Failed();
  return true;
}

bool HidWindows::GetFeature(intptr_t handle, uint8_t* buffer, size_t length) {
  if (!HidBound()) return Failed(ERROR_MOD_NOT_FOUND);
  if (handle == kNoHandle) return Failed(ERROR_INVALID_HANDLE);
  if (!libs_->GetFeature(reinterpret_cast<HANDLE>(handle), buffer, ULONG(length))) return Failed();
  return true;
}

}  // namespace korvel
#endif
