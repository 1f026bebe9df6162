#include "comm/comm_types.h"

#include <gtest/gtest.h>

#include "tests/support/param_names.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>

#include "comm/comm_error.h"
#include "comm/device_names.h"
#include "comm/open_error.h"

namespace comm {
namespace {

TEST(CommTypes, OrdinalsFollowTheDeclaredOrder) {
  EXPECT_EQ(br110, 0);
  EXPECT_EQ(br9600, 6);
  EXPECT_EQ(br115200, 12);
  EXPECT_EQ(br256000, 14);  // before br230400
  EXPECT_EQ(br230400, 15);
  EXPECT_EQ(brUSER, 18);
  EXPECT_EQ(paSpace, 4);
  EXPECT_EQ(sb20, 2);
  EXPECT_EQ(da8, 4);
  EXPECT_EQ(fcDefault, 4);
  EXPECT_EQ(coNullStrip, 4);
  EXPECT_EQ(evRxChar, 6);
  EXPECT_EQ(evTxEmpty, 8);
}

struct TRateCase {
  TBaudRate rate;
  uint32_t bits_per_second;
  uint32_t write_multiplier;
};

class BitRateTable : public ::testing::TestWithParam<TRateCase> {};

TEST_P(BitRateTable, RateAndWriteMultiplier) {
  EXPECT_EQ(BitRateOf(GetParam().rate), GetParam().bits_per_second);
  EXPECT_EQ(WriteTotalTimeoutMultiplierOf(GetParam().rate), GetParam().write_multiplier);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, BitRateTable,
    ::testing::Values(TRateCase{br110, 110, 19200}, TRateCase{br300, 300, 19200},
                      TRateCase{br9600, 9600, 3200}, TRateCase{br14400, 14400, 2742},
                      TRateCase{br56000, 56000, 1920}, TRateCase{br115200, 115200, 1600},
                      TRateCase{br128000, 128000, 1476}, TRateCase{br256000, 256000, 1371},
                      TRateCase{br230400, 230400, 1280}, TRateCase{br921600, 921600, 1129},
                      TRateCase{brUSER, 0, 1066}), testsupport::TIndexName());

TEST(CommTypes, DeviceMaskIsTheSumOfTheMemberBits) {
  EXPECT_EQ(DeviceMaskOf(kAllCommEvents), 0x1FFu);
  EXPECT_EQ(DeviceMaskOf(EventSetOf(evRxChar)), EV_RXCHAR);
  EXPECT_EQ(DeviceMaskOf(EventSetOf(evBreak)), 0x40u);
  EXPECT_EQ(DeviceMaskOf(EventSetOf(evRing) | EventSetOf(evTxEmpty)), 0x104u);
  EXPECT_EQ(DeviceMaskOf(0), 0u);
}

TEST(DeviceNames, ComNamesResolveWithoutRegardToCase) {
  TDeviceNameMap names;
  EXPECT_EQ(names.Resolve("COM1"), "/dev/ttyS0");
  EXPECT_EQ(names.Resolve("Com2"), "/dev/ttyS1");
  EXPECT_EQ(names.Resolve("com2"), "/dev/ttyS1");
  EXPECT_EQ(names.Resolve("/dev/pts/7"), "/dev/pts/7");
  EXPECT_EQ(names.Resolve("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(names.Resolve(""), "");
}

TEST(DeviceNames, TheApplicationCanRemapAName) {
  TDeviceNameMap names;
  names.Set("com1", "/dev/ttyUSB0");
  EXPECT_EQ(names.Resolve("COM1"), "/dev/ttyUSB0");
  EXPECT_EQ(names.Resolve("COM2"), "/dev/ttyS1");
  names.Set("COM3", "/dev/ttyACM0");
  EXPECT_EQ(names.Resolve("Com3"), "/dev/ttyACM0");
}

struct TPermissionCase {
  int Error;
  std::optional<TDeviceAccess> Access;
  const char* Text;
};

TEST(OpenError, PermissionRefusalsNameTheDialoutGroupOnlyForItsDevices) {
  const TPermissionCase cases[] = {
      {EACCES, TDeviceAccess{"root", "dialout", 0660},
       "/dev/ttyUSB0: Permission denied (the user must be a member of the 'dialout' group: "
       "sudo usermod -aG dialout $USER, then log in again)"},
      {EACCES, TDeviceAccess{"root", "root", 0600},
       "/dev/ttyUSB0: Permission denied (owned by root:root, mode 600; ask an administrator for "
       "access)"},
      {EPERM, TDeviceAccess{"1000", "uucp", 04660},
       "/dev/ttyUSB0: Operation not permitted (owned by 1000:uucp, mode 4660; ask an "
       "administrator for access)"},
      {EACCES, TDeviceAccess{"root", "tty", 0}, "/dev/ttyUSB0: Permission denied (owned by root:tty, "
                                                 "mode 000; ask an administrator for access)"},
      {EACCES, std::nullopt, "/dev/ttyUSB0: Permission denied"},
      // The owner only matters for a permission refusal.
      {ENOENT, TDeviceAccess{"root", "root", 0600}, "/dev/ttyUSB0: No such file or directory"},
  };
  for (const auto& c : cases) {
    const TOpenError e = DescribeOpenError("/dev/ttyUSB0", c.Error, c.Access);
    EXPECT_EQ(e.Error, c.Error);
    EXPECT_EQ(e.Text, c.Text);
  }
}

TEST(OpenError, TheDeviceIsExaminedForARefusal) {
  // A device that cannot be examined (here: none there) gets no hint at all.
  EXPECT_EQ(DescribeOpenError("/dev/no-such-serial-port", EACCES).Text,
            "/dev/no-such-serial-port: Permission denied");
  std::string path = ::testing::TempDir() + "open-error-XXXXXX";
  const int fd = ::mkstemp(path.data());
  ASSERT_GE(fd, 0);
  ::close(fd);
  ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
  const auto access = ExamineDevice(path);
  const std::string text = DescribeOpenError(path, EACCES).Text;
  ::unlink(path.c_str());
  ASSERT_TRUE(access.has_value());
  EXPECT_EQ(access->Mode, 0604u);
  EXPECT_FALSE(access->Owner.empty());
  EXPECT_EQ(text, path + ": Permission denied (owned by " + access->Owner + ":" + access->Group +
                      ", mode 604; ask an administrator for access)");
}

TEST(OpenError, BusyAndMissingDevicesAreNamed) {
  EXPECT_EQ(DescribeOpenError("/dev/ttyS0", EWOULDBLOCK).Text,
            "/dev/ttyS0: the port is in use by another program");
  EXPECT_EQ(DescribeOpenError("/dev/ttyS9", ENOENT).Text, "/dev/ttyS9: No such file or directory");
  EXPECT_EQ(DescribeOpenError("", ENOENT).Text, "no device name given");
}

TEST(CommError, CarriesTheNumberInTextAndCode) {
  const ECommError e(kErrPortNotOpen, -1);
  EXPECT_STREQ(e.what(), "Port not open (Error: -1)");
  EXPECT_EQ(e.ErrorCode(), -1);
  EXPECT_STREQ(ECommError(kErrDataControlBlock, 22).what(),
               "Error updating DataControlBlock (Error: 22)");
}

}  // namespace
}  // namespace comm
