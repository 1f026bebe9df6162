#include "frontends/cast_player.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

namespace app {

bool TCastPlayer::Load(std::string_view text) {
  Events.clear();
  Next = 0;
  const size_t headerEnd = text.find('\n');
  const QJsonDocument header =
      QJsonDocument::fromJson(QByteArray(text.data(), static_cast<qsizetype>(text.substr(0, headerEnd).size())));
  if (!header.isObject() || header.object().value(QLatin1String("version")).toInt() != 2) return false;
  text = headerEnd == std::string_view::npos ? std::string_view{} : text.substr(headerEnd + 1);

  double lastSeconds = 0;
  uint64_t at = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(line.data(), static_cast<qsizetype>(line.size())));
    const QJsonArray event = doc.array();
    if (event.size() != 3 || !event[0].isDouble() || event[1].toString() != QLatin1String("o") ||
        !event[2].isString()) {
      continue;  // a marker, or no event
    }
    const double seconds = event[0].toDouble();
    if (!std::isfinite(seconds)) continue;
    if (Events.empty()) lastSeconds = seconds;  // the span starts at its first event
    // Times that go backwards count as no pause.
    const double pauseMs = std::clamp((seconds - lastSeconds) * 1000.0, 0.0, static_cast<double>(kMaxPauseMs));
    lastSeconds = std::max(lastSeconds, seconds);
    at += static_cast<uint64_t>(pauseMs) / kSpeed;
    Events.push_back({at, event[2].toString().toStdString()});
  }
  return !Events.empty();
}

std::string TCastPlayer::Due(uint64_t elapsedMs) {
  std::string out;
  while (Next < Events.size() && Events[Next].AtMs <= elapsedMs) out += Events[Next++].Data;
  return out;
}

}  // namespace app
