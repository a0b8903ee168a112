// korvel-uhid-rx's side of the uhid protocol, with the test playing the kernel: each
// /dev/uhid descriptor is one end of a packet socketpair carrying struct uhid_event.
#include <gtest/gtest.h>
#include <linux/input.h>
#include <linux/uhid.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "UhidRx.h"
#include "VirtualHost.h"

namespace korvel {
namespace {

constexpr size_t kMouse = 0, kKeyboard = 1, kVendor = 2;

class UhidRxTest : public ::testing::Test {
 protected:
  UhidRxTest() {
    // A write to a kernel end the test closed must fail, not end the test program.
    std::signal(SIGPIPE, SIG_IGN);
    opener = [this]() -> int {
      if (refuseOpen) {
        errno = ENOENT;
        return -1;
      }
      int pair[2];
      if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return -1;
      kernel.push_back(pair[0]);
      benchEnds.push_back(pair[1]);
      return pair[1];
    };
  }
  ~UhidRxTest() override {
    bench.reset();
    for (int fd : kernel)
      if (fd >= 0) ::close(fd);
  }

  UhidRx& Bench(UhidRx::Options options = {}) {
    bench = std::make_unique<UhidRx>(host, opener, options, out, log);
    return *bench;
  }
  // Plugs and takes the three create requests off the kernel's ends.
  void Plug(UhidRx::Options options = {}) {
    std::string error;
    ASSERT_TRUE(Bench(options).Plug(error)) << error;
    for (size_t i = 0; i < 3; ++i) ASSERT_EQ(Receive(Kernel(i)).type, uint32_t(UHID_CREATE2));
  }
  // The kernel's end of interface `index` of the latest plug.
  int Kernel(size_t index) const { return kernel[kernel.size() - 3 + index]; }
  int BenchEnd(size_t index) const { return benchEnds[benchEnds.size() - 3 + index]; }

  // The next event the bench wrote; type 0xFFFFFFFF when none waits, 0xFFFFFFFE at its end.
  uhid_event Receive(int fd) {
    uhid_event e{};
    const ssize_t n = ::recv(fd, &e, sizeof e, MSG_DONTWAIT);
    if (n == 0) e.type = 0xFFFFFFFE;
    if (n < 0) e.type = 0xFFFFFFFF;
    return e;
  }
  // As the kernel asks: the event arrives and the bench answers it.
  uhid_event Ask(size_t index, const uhid_event& request) {
    EXPECT_EQ(::send(Kernel(index), &request, sizeof request, 0), ssize_t(sizeof request));
    bench->Dispatch(BenchEnd(index));
    return Receive(Kernel(index));
  }
  uhid_event SetReport(size_t index, std::vector<uint8_t> data,
                       uint8_t rtype = UHID_FEATURE_REPORT) {
    uhid_event e{};
    e.type = UHID_SET_REPORT;
    e.u.set_report.id = ++requestId;
    e.u.set_report.rnum = data.empty() ? 0 : data[0];
    e.u.set_report.rtype = rtype;
    e.u.set_report.size = uint16_t(data.size());
    std::memcpy(e.u.set_report.data, data.data(), data.size());
    return Ask(index, e);
  }
  uhid_event GetReport(size_t index, uint8_t rnum, uint8_t rtype = UHID_FEATURE_REPORT) {
    uhid_event e{};
    e.type = UHID_GET_REPORT;
    e.u.get_report.id = ++requestId;
    e.u.get_report.rnum = rnum;
    e.u.get_report.rtype = rtype;
    return Ask(index, e);
  }

  VirtualHost host;
  UhidRx::Opener opener;
  bool refuseOpen = false;
  std::vector<int> kernel, benchEnds;
  std::ostringstream out, log;
  std::unique_ptr<UhidRx> bench;
  uint32_t requestId = 40;
};

TEST_F(UhidRxTest, PlugCreatesOneUsbDevicePerInterfaceWithTheEmulatorsDescriptor) {
  UhidRx::Options options;
  options.rx.version = 0xA041;
  std::string error;
  ASSERT_TRUE(Bench(options).Plug(error)) << error;
  ASSERT_EQ(kernel.size(), 3u);
  std::string device;
  for (size_t i : {kMouse, kKeyboard, kVendor}) {
    SCOPED_TRACE(i);
    const uhid_event e = Receive(Kernel(i));
    ASSERT_EQ(e.type, uint32_t(UHID_CREATE2));
    const uhid_create2_req& c = e.u.create2;
    EXPECT_EQ(c.bus, BUS_USB);
    EXPECT_EQ(c.vendor, 0x1BCFu);
    EXPECT_EQ(c.product, 0x053Au);
    EXPECT_EQ(c.version, 0xA041u);
    const auto& descriptor = EmulatedRx::ReportDescriptor(i);
    ASSERT_EQ(c.rd_size, descriptor.size());
    EXPECT_EQ(std::vector<uint8_t>(c.rd_data, c.rd_data + c.rd_size), descriptor);
    // One device's interfaces, named as usbhid names them.
    const std::string phys(reinterpret_cast<const char*>(c.phys));
    const std::string suffix = "/input" + std::to_string(i);
    ASSERT_GT(phys.size(), suffix.size());
    EXPECT_EQ(phys.substr(phys.size() - suffix.size()), suffix);
    if (i == kMouse) device = phys.substr(0, phys.size() - suffix.size());
    EXPECT_EQ(phys.substr(0, phys.size() - suffix.size()), device);
    EXPECT_EQ(Receive(Kernel(i)).type, 0xFFFFFFFFu);  // nothing more
  }
  EXPECT_TRUE(bench->Plugged());
  EXPECT_TRUE(bench->Rx().Plugged());
}

TEST_F(UhidRxTest, FeatureReportsCarryTheReportIdInByteZeroBothWays) {
  Plug();
  std::string error;
  // Register 30 := 0x1234; the report as hidraw passes it, ID first.
  uhid_event reply = SetReport(kVendor, {1, 0x04, 30, 0x12, 0x34, 0, 0, 0, 0});
  ASSERT_EQ(reply.type, uint32_t(UHID_SET_REPORT_REPLY));
  EXPECT_EQ(reply.u.set_report_reply.id, requestId);
  EXPECT_EQ(reply.u.set_report_reply.err, 0);
  EXPECT_EQ(bench->Rx().Registers()[30], 0x1234);

  reply = SetReport(kVendor, {1, 0x03, 30, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(reply.u.set_report_reply.err, 0);
  host.Sleep(10);  // the answer's preparation time
  reply = GetReport(kVendor, 1);
  ASSERT_EQ(reply.type, uint32_t(UHID_GET_REPORT_REPLY));
  EXPECT_EQ(reply.u.get_report_reply.id, requestId);
  EXPECT_EQ(reply.u.get_report_reply.err, 0);
  ASSERT_EQ(reply.u.get_report_reply.size, 9);
  // Byte 0 is the dongle's own (the value's high byte): nothing is put in front of it.
  const std::vector<uint8_t> answer(reply.u.get_report_reply.data,
                                    reply.u.get_report_reply.data + 9);
  EXPECT_EQ(answer, (std::vector<uint8_t>{0x12, 0x34, 0, 0, 0, 0, 0, 0xCC, 0}));
  EXPECT_EQ(bench->Rx().ReportsReceived(), 2u);
  EXPECT_EQ(bench->Rx().ReportsFetched(), 1u);
}

TEST_F(UhidRxTest, RequestsTheDongleDoesNotTakeFailWithEio) {
  struct Case {
    const char* name;
    size_t interface;
    bool get;
    uint8_t rtype;
    std::vector<uint8_t> data;  // for a get: data[0] is rnum
  };
  const std::vector<uint8_t> read30{1, 0x03, 30, 0, 0, 0, 0, 0, 0};
  const Case cases[] = {
      {"feature from the mouse interface", kMouse, true, UHID_FEATURE_REPORT, {1}},
      {"feature to the keyboard interface", kKeyboard, false, UHID_FEATURE_REPORT, read30},
      {"input report asked of the vendor interface", kVendor, true, UHID_INPUT_REPORT, {1}},
      {"output report to the vendor interface", kVendor, false, UHID_OUTPUT_REPORT, read30},
      {"another report ID fetched", kVendor, true, UHID_FEATURE_REPORT, {2}},
      {"another report ID sent",
       kVendor,
       false,
       UHID_FEATURE_REPORT,
       {2, 0x03, 30, 0, 0, 0, 0, 0, 0}},
      {"a short report sent", kVendor, false, UHID_FEATURE_REPORT, {1, 0x03, 30, 0}},
  };
  Plug();
  std::string error;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uhid_event reply = c.get ? GetReport(c.interface, c.data[0], c.rtype)
                                   : SetReport(c.interface, c.data, c.rtype);
    if (c.get) {
      ASSERT_EQ(reply.type, uint32_t(UHID_GET_REPORT_REPLY));
      EXPECT_EQ(reply.u.get_report_reply.id, requestId);
      EXPECT_EQ(reply.u.get_report_reply.err, EIO);
      EXPECT_EQ(reply.u.get_report_reply.size, 0);
    } else {
      ASSERT_EQ(reply.type, uint32_t(UHID_SET_REPORT_REPLY));
      EXPECT_EQ(reply.u.set_report_reply.id, requestId);
      EXPECT_EQ(reply.u.set_report_reply.err, EIO);
    }
  }
  EXPECT_EQ(bench->Rx().ReportsReceived(), 0u);
  EXPECT_EQ(bench->Rx().ReportsFetched(), 0u);
}

TEST_F(UhidRxTest, UnplugDestroysEveryDeviceAndNextPlugsAFreshUnit) {
  Plug();
  std::string error;
  SetReport(kVendor, {1, 0x04, 30, 0x12, 0x34, 0, 0, 0, 0});
  ASSERT_TRUE(bench->Command("next", error)) << error;
  ASSERT_EQ(kernel.size(), 6u);
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Receive(kernel[i]).type, uint32_t(UHID_DESTROY));
    EXPECT_EQ(Receive(kernel[i]).type, 0xFFFFFFFEu);  // closed, as the bench let it go
    EXPECT_EQ(Receive(kernel[3 + i]).type, uint32_t(UHID_CREATE2));
  }
  EXPECT_EQ(bench->UnitNumber(), 2);
  EXPECT_EQ(bench->Rx().Registers(), EmulatedRx::FactoryRegisters());
  EXPECT_TRUE(bench->Rx().Plugged());

  ASSERT_TRUE(bench->Command("unplug", error));
  EXPECT_FALSE(bench->Plugged());
  EXPECT_FALSE(bench->Rx().Plugged());
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(Receive(Kernel(i)).type, uint32_t(UHID_DESTROY));
  EXPECT_TRUE(bench->Descriptors().empty());
}

TEST_F(UhidRxTest, ImagesAreEveryUnitsInTheCompanionsForm) {
  Plug();
  std::string error;
  SetReport(kVendor, {1, 0x04, 30, 0x12, 0x34, 0, 0, 0, 0});
  DeviceImages first;
  first.rxBefore = EmulatedRx::FactoryRegisters();
  first.rxAfter = bench->Rx().Registers();
  first.txBefore = first.txAfter = EmulatedTx::FactoryEeprom();
  first.reportsSent = 1;
  ASSERT_TRUE(bench->Command("next", error));
  DeviceImages second;
  second.rxBefore = second.rxAfter = EmulatedRx::FactoryRegisters();
  second.txBefore = second.txAfter = EmulatedTx::FactoryEeprom();
  ASSERT_EQ(first.rxAfter[30], 0x1234);
  EXPECT_EQ(bench->ImagesJson(), "{\"units\":[{\"unit\":1," + DeviceImagesJsonMembers(first) +
                                     "},{\"unit\":2," + DeviceImagesJsonMembers(second) + "}]}\n");
  ASSERT_TRUE(bench->Command("images", error));
  EXPECT_EQ(out.str(), bench->ImagesJson());
}

TEST_F(UhidRxTest, RxGoneFailsTheTransferInHandThenDestroysTheDevices) {
  Plug();
  std::string error;
  ASSERT_TRUE(bench->Command("fault rx-gone 1", error)) << error;
  EXPECT_EQ(SetReport(kVendor, {1, 0x03, 30, 0, 0, 0, 0, 0, 0}).u.set_report_reply.err, 0);
  const uhid_event reply = GetReport(kVendor, 1);
  ASSERT_EQ(reply.type, uint32_t(UHID_GET_REPORT_REPLY));
  EXPECT_EQ(reply.u.get_report_reply.err, EIO);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(Receive(Kernel(i)).type, uint32_t(UHID_DESTROY));
  EXPECT_FALSE(bench->Plugged());
  // Plugged again, the same unit answers.
  ASSERT_TRUE(bench->Command("plug", error)) << error;
  for (size_t i = 0; i < 3; ++i) ASSERT_EQ(Receive(Kernel(i)).type, uint32_t(UHID_CREATE2));
  EXPECT_EQ(SetReport(kVendor, {1, 0x03, 30, 0, 0, 0, 0, 0, 0}).u.set_report_reply.err, 0);
}

TEST_F(UhidRxTest, AKernelEndThatClosesPullsTheUnit) {
  Plug();
  std::string error;
  ::close(Kernel(kKeyboard));
  kernel[kernel.size() - 2] = -1;
  bench->Dispatch(BenchEnd(kKeyboard));
  EXPECT_FALSE(bench->Plugged());
  EXPECT_FALSE(bench->Rx().Plugged());
  EXPECT_NE(log.str().find("pulled"), std::string::npos) << log.str();
}

TEST_F(UhidRxTest, ACommandIsTakenOrRefusedWithItsReason) {
  struct Case {
    const char* line;
    const char* error;  // empty: taken
  };
  const Case cases[] = {
      {"", ""},
      {"# a comment", ""},
      {"tx off", ""},
      {"tx out", ""},
      {"tx bind", ""},
      {"clear-faults", ""},
      {"fault readback-mismatch 2", ""},
      {"fault low-battery", ""},
      {"fault tx-flaky 50", ""},
      {"fault no-such-fault", "fault: unknown fault 'no-such-fault'"},
      {"fault readback-mismatch two",
       "fault: COUNT is a whole number (-1: until cleared), not 'two'"},
      {"fault", "'fault' takes 1 or 2 arguments"},
      {"tx sideways", "tx: on, off, in, out, bind or nobind, not 'sideways'"},
      {"plug now", "'plug' takes 0 arguments"},
      {"dance", "unknown command 'dance'"},
  };
  Bench();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string error;
    EXPECT_EQ(bench->Command(c.line, error), std::string(c.error).empty());
    EXPECT_EQ(error, c.error);
  }
  EXPECT_EQ(bench->Tx().BatteryLevel(), 2);  // low-battery reached the mouse
  EXPECT_FALSE(bench->Tx().Powered());
}

TEST_F(UhidRxTest, FaultsGivenAtTheStartReachEveryUnit) {
  UhidRx::Options options;
  options.faults = {{"readback-mismatch", -1}};
  Plug(options);
  std::string error;
  SetReport(kVendor, {1, 0x04, 30, 0x12, 0x34, 0, 0, 0, 0});
  EXPECT_EQ(bench->Rx().Registers()[30], 0x1235);
  ASSERT_TRUE(bench->Command("next", error));
  SetReport(kVendor, {1, 0x04, 30, 0x12, 0x34, 0, 0, 0, 0});
  EXPECT_EQ(bench->Rx().Registers()[30], 0x1235);
}

TEST_F(UhidRxTest, AMissingUhidDeviceIsSaidAndNothingIsLeftHalfPlugged) {
  refuseOpen = true;
  std::string error;
  EXPECT_FALSE(Bench().Plug(error));
  EXPECT_EQ(error, "cannot open /dev/uhid: No such file or directory (is the uhid module loaded?)");
  EXPECT_FALSE(bench->Plugged());
  EXPECT_FALSE(bench->Rx().Plugged());
}

}  // namespace
}  // namespace korvel
