// The ports offered for choosing: by-id names first with the tty they stand
// for, then USB adapters and the UARTs that answer, each family in number order.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "comm/port_list.h"

namespace {

namespace fs = std::filesystem;

TEST(PortList, StableNamesFirstThenAdaptersThenAnsweringUarts) {
  const fs::path dev = fs::temp_directory_path() / ("consolew-dev-" + std::to_string(::getpid()));
  fs::create_directories(dev / "serial" / "by-id");
  for (const char* n : {"ttyUSB10", "ttyUSB9", "ttyACM0", "ttyS0", "ttyS1", "ttyS10", "ttyprintk", "tty0"}) {
    std::ofstream(dev / n).put('\n');
  }
  fs::create_symlink("../../ttyUSB9", dev / "serial" / "by-id" / "usb-FTDI_FT232R_A1B2-if00-port0");
  fs::create_symlink("../../gone", dev / "serial" / "by-id" / "usb-unplugged");  // dangling: left out
  const auto uart = [&](const std::string& path) { return path == (dev / "ttyS1").string(); };

  const auto ports = comm::ListSerialPorts(dev.string(), uart);
  std::vector<std::string> got;
  for (const auto& p : ports) got.push_back(fs::path(p.Path).filename().string() + "=" + p.Description);
  EXPECT_EQ(got, (std::vector<std::string>{"usb-FTDI_FT232R_A1B2-if00-port0=ttyUSB9", "ttyUSB9=", "ttyUSB10=",
                                           "ttyACM0=", "ttyS1="}));
  // consolew --list: a port a line, a by-id name with the device it stands for.
  std::string listing;
  for (const auto& p : ports) listing += comm::PortListLine(p) + "\n";
  const std::string d = fs::canonical(dev).string();
  EXPECT_EQ(listing, dev.string() + "/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0 -> " + d + "/ttyUSB9\n" +
                         dev.string() + "/ttyUSB9\n" + dev.string() + "/ttyUSB10\n" + dev.string() +
                         "/ttyACM0\n" + dev.string() + "/ttyS1\n");
  fs::remove_all(dev);
}

}  // namespace
