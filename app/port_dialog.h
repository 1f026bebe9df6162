// "Serial port for COM1..." / "COM2...": the ports this machine has, or a
// typed network address (rfc2217://HOST:PORT, tcp://HOST:PORT).
#pragma once

#include <QString>
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "comm/port_list.h"

namespace app {

// The combo box's items: each port's path, with the tty a by-id name stands for.
std::vector<QString> PortItems(const std::vector<comm::TPortEntry>& ports);
// The device an item (or typed text) names: the path without its description.
std::string DeviceOfItem(const QString& item);

// Asks for the device behind `portName` ("COM1"); nothing when cancelled or empty.
std::optional<std::string> ChoosePort(QWidget* parent, const QString& portName, const std::string& current,
                                      const std::vector<comm::TPortEntry>& ports);

}  // namespace app
