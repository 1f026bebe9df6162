#include "comm/comm_types.h"

#include <gtest/gtest.h>

#include "tests/support/param_names.h"

#include <cerrno>

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

TEST(OpenError, PermissionProblemsPointToTheDialoutGroup) {
  const TOpenError e = DescribeOpenError("/dev/ttyUSB0", EACCES);
  EXPECT_EQ(e.Error, EACCES);
  EXPECT_EQ(e.Text.rfind("/dev/ttyUSB0: Permission denied", 0), 0u) << e.Text;
  EXPECT_NE(e.Text.find("dialout"), std::string::npos);
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
