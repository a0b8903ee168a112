#include "device/HotPlug.h"

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/OsError.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace korvel {

#ifndef _WIN32

namespace {
int OpenUeventSocket() {
  const int fd =
      ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
  if (fd < 0) return -1;
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  // Group 1: the kernel's own events; group 2: udev's, sent once its rules (and with them the
  // node's permissions) are applied. Both come; the burst is settled above.
  address.nl_groups = 1 | 2;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}
}  // namespace

UeventHotPlugSource::UeventHotPlugSource(Opener opener)
    : opener_(opener ? std::move(opener) : Opener(OpenUeventSocket)) {}

UeventHotPlugSource::~UeventHotPlugSource() {
  watch_.reset();
  if (fd_ >= 0) ::close(fd_);
}

Status UeventHotPlugSource::Start(Host& host, Sink sink) {
  fd_ = opener_();
  if (fd_ < 0) {
    const int code = errno;
    // The engineer's trace says it; it is no operator text.
    return Status::Failed(Phrase::Literal("cannot open the uevent socket: " + OsErrorText(code)),
                          code);
  }
  sink_ = std::move(sink);
  watch_ = host.WatchReadable(fd_, [this] { Dispatch(); });
  if (!watch_) {
    ::close(fd_);
    fd_ = -1;
    return Status::Failed(Phrase::Literal("the message loop cannot watch the uevent socket"));
  }
  return {};
}

void UeventHotPlugSource::Dispatch() {
  std::vector<char> buffer(8192);
  for (;;) {
    const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n <= 0) return;  // drained (EAGAIN), or the socket failed: the timer remains
    if (const auto event = Parse(buffer.data(), size_t(n)); event && sink_) sink_(*event);
  }
}

std::optional<HotPlugEvent> UeventHotPlugSource::Parse(const char* data, size_t size) {
  std::string_view all(data, size);
  if (all.substr(0, 8) == std::string_view("libudev\0", 8)) {
    // udev's header: prefix[8], magic, header size, properties offset, properties length.
    if (size < 24) return std::nullopt;
    uint32_t offset = 0, length = 0;
    std::memcpy(&offset, data + 16, 4);
    std::memcpy(&length, data + 20, 4);
    if (offset > size || length > size - offset) return std::nullopt;
    all = all.substr(offset, length);
  }
  std::string_view action, subsystem, devname;
  for (size_t at = 0; at < all.size();) {
    const size_t end = std::min(all.find('\0', at), all.size());
    const std::string_view field = all.substr(at, end - at);
    if (field.rfind("ACTION=", 0) == 0) action = field.substr(7);
    if (field.rfind("SUBSYSTEM=", 0) == 0) subsystem = field.substr(10);
    if (field.rfind("DEVNAME=", 0) == 0) devname = field.substr(8);
    at = end + 1;
  }
  if (subsystem != "hidraw" || devname.empty()) return std::nullopt;
  HotPlugEvent event;
  if (action == "add")
    event.kind = HotPlugEvent::Kind::Arrived;
  else if (action == "remove")
    event.kind = HotPlugEvent::Kind::Left;
  else
    return std::nullopt;
  // The kernel names the node relative to /dev, udev names it whole.
  event.path = devname.front() == '/' ? std::string(devname) : "/dev/" + std::string(devname);
  return event;
}

std::unique_ptr<HotPlugSource> CreateSystemHotPlugSource() {
  return std::make_unique<UeventHotPlugSource>();
}

#else

namespace {
// cfgmgr32's notification API, bound at run time (Windows 8 and later; Wine may lack it).
enum : DWORD { kFilterDeviceInterface = 0 };
enum : DWORD { kActionArrival = 0, kActionRemoval = 1 };

struct NotifyFilter {
  DWORD cbSize;
  DWORD Flags;
  DWORD FilterType;
  DWORD Reserved;
  union {
    struct {
      GUID ClassGuid;
    } DeviceInterface;
    BYTE padding[400 * sizeof(wchar_t) + sizeof(DWORD) * 2];
  } u;
};

struct NotifyEventData {
  DWORD FilterType;
  DWORD Reserved;
  union {
    struct {
      GUID ClassGuid;
      WCHAR SymbolicLink[1];
    } DeviceInterface;
  } u;
};

using Callback = DWORD(CALLBACK*)(void* notify, void* context, DWORD action, NotifyEventData* data,
                                  DWORD size);
using RegisterFn = DWORD(WINAPI*)(NotifyFilter*, void*, Callback, void**);
using UnregisterFn = DWORD(WINAPI*)(void*);

// The HID device interface class.
constexpr GUID kHidInterface = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text && *text; ++text) out += *text < 0x80 ? char(*text) : '?';
  return out;
}

class WindowsHotPlugSource final : public HotPlugSource {
 public:
  ~WindowsHotPlugSource() override {
    if (handle_ && unregister_) unregister_(handle_);
    if (library_) FreeLibrary(library_);
  }
  Status Start(Host& host, Sink sink) override {
    host_ = &host;
    sink_ = std::move(sink);
    library_ = LoadLibraryW(L"cfgmgr32.dll");
    auto reg = library_ ? reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(
                              GetProcAddress(library_, "CM_Register_Notification")))
                        : nullptr;
    unregister_ = library_ ? reinterpret_cast<UnregisterFn>(reinterpret_cast<void*>(
                                 GetProcAddress(library_, "CM_Unregister_Notification")))
                           : nullptr;
    if (!reg || !unregister_) {
      const int code = int(GetLastError());
      return Status::Failed(
          Phrase::Literal("CM_Register_Notification is not available (" + OsErrorText(code) + ")"),
          code);
    }
    NotifyFilter filter{};
    filter.cbSize = sizeof filter;
    filter.FilterType = kFilterDeviceInterface;
    filter.u.DeviceInterface.ClassGuid = kHidInterface;
    const DWORD result = reg(&filter, this, &WindowsHotPlugSource::OnNotify, &handle_);
    if (result != 0) {
      handle_ = nullptr;
      return Status::Failed(Phrase::Literal("CM_Register_Notification failed (CONFIGRET " +
                                            std::to_string(result) + ")"));
    }
    return {};
  }
  std::string Name() const override { return "device notifications (HID)"; }

 private:
  // Runs on a system thread: the event goes to the message loop's thread.
  static DWORD CALLBACK OnNotify(void*, void* context, DWORD action, NotifyEventData* data, DWORD) {
    auto* self = static_cast<WindowsHotPlugSource*>(context);
    if (action != kActionArrival && action != kActionRemoval) return 0;
    HotPlugEvent event;
    event.kind = action == kActionArrival ? HotPlugEvent::Kind::Arrived : HotPlugEvent::Kind::Left;
    if (data) event.path = Narrow(data->u.DeviceInterface.SymbolicLink);
    self->host_->Post([alive = std::weak_ptr<bool>(self->alive_), self, event] {
      if (alive.lock() && self->sink_) self->sink_(event);
    });
    return 0;
  }

  Host* host_ = nullptr;
  Sink sink_;
  // Posted events check it: the source may be gone when the loop runs them.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  HMODULE library_ = nullptr;
  UnregisterFn unregister_ = nullptr;
  void* handle_ = nullptr;
};
}  // namespace

std::unique_ptr<HotPlugSource> CreateSystemHotPlugSource() {
  return std::make_unique<WindowsHotPlugSource>();
}

#endif

}  // namespace korvel
