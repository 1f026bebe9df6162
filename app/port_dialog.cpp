#include "app/port_dialog.h"

#include <QInputDialog>
#include <QStringList>

namespace app {
namespace {
constexpr const char* kDescriptionOpen = "  (";
}  // namespace

std::vector<QString> PortItems(const std::vector<comm::TPortEntry>& ports) {
  std::vector<QString> items;
  for (const auto& p : ports) {
    QString item = QString::fromStdString(p.Path);
    if (!p.Description.empty()) item += kDescriptionOpen + QString::fromStdString(p.Description) + ")";
    items.push_back(item);
  }
  return items;
}

std::string DeviceOfItem(const QString& item) {
  QString text = item.trimmed();
  const qsizetype open = text.indexOf(QLatin1String(kDescriptionOpen));
  if (open > 0 && text.endsWith(QLatin1Char(')'))) text.truncate(open);
  return text.trimmed().toStdString();
}

std::optional<std::string> ChoosePort(QWidget* parent, const QString& portName, const std::string& current,
                                      const std::vector<comm::TPortEntry>& ports) {
  QStringList items;
  items << QString::fromStdString(current);
  for (const QString& item : PortItems(ports)) {
    if (DeviceOfItem(item) != current) items << item;
  }
  bool ok = false;
  const QString chosen = QInputDialog::getItem(
      parent, QStringLiteral("Serial port for %1").arg(portName),
      QStringLiteral("Device for %1, or a network serial server\n(rfc2217://HOST:PORT or tcp://HOST:PORT):")
          .arg(portName),
      items, 0, true, &ok);
  if (!ok) return std::nullopt;
  const std::string device = DeviceOfItem(chosen);
  if (device.empty()) return std::nullopt;
  return device;
}

}  // namespace app
