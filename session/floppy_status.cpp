#include "session/floppy_status.h"

namespace app {

namespace {

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string FloppyToolTipLines(const floppy::TImageStatus& status) {
  std::string text = status.Name.empty() ? "No image in service"
                                         : "Image: " + status.Name +
                                               (status.ReadOnly ? " (write-protected)" : " (writable)");
  if (!status.Message.empty()) text += "\n" + status.Message;
  return text;
}

std::string FloppyStatusWord(const floppy::TImageStatus& status) {
  if (status.Name.empty() && status.Message.empty()) return {};
  std::string word = "A: " + (status.Name.empty() ? std::string("none") : BaseName(status.Name));
  if (!status.Name.empty() && status.ReadOnly) word += " read-only";
  if (status.Trouble) word += " (" + status.Message + ")";
  return word;
}

}  // namespace app
