// Where the service loop shows its short states ("Ping!", "Timeout!"); the
// window puts them into its status label.
#pragma once

namespace app {

class IStatusSink {
 public:
  virtual ~IStatusSink() = default;
  virtual void ShowStatus(const char* text) = 0;
};

}  // namespace app
