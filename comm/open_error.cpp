#include "comm/open_error.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <vector>

namespace comm {

namespace {

constexpr const char* kDialoutGroup = "dialout";

std::string UserName(uid_t uid) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  std::vector<char> buffer(16384);
  group entry{};
  group* found = nullptr;
  if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->gr_name;
  }
  return std::to_string(gid);
}

std::string PermissionHint(const std::optional<TDeviceAccess>& access) {
  if (!access) return "";
  if (access->Group == kDialoutGroup) {
    return " (the user must be a member of the 'dialout' group: "
           "sudo usermod -aG dialout $USER, then log in again)";
  }
  char mode[16];
  std::snprintf(mode, sizeof mode, "%03o", access->Mode & 07777U);
  return " (owned by " + access->Owner + ":" + access->Group + ", mode " + mode +
         "; ask an administrator for access)";
}

}  // namespace

std::optional<TDeviceAccess> ExamineDevice(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return TDeviceAccess{UserName(st.st_uid), GroupName(st.st_gid),
                       static_cast<unsigned>(st.st_mode) & 07777U};
}

TOpenError DescribeOpenError(const std::string& path, int error,
                             const std::optional<TDeviceAccess>& access) {
  if (path.empty()) return {error, "no device name given"};
  std::string text = path + ": ";
  switch (error) {
    case EACCES:
    case EPERM:
      text += std::generic_category().message(error) + PermissionHint(access);
      break;
    case EWOULDBLOCK:
    case EBUSY:
      text += "the port is in use by another program";
      break;
    case ENOTTY:
      text += "not a serial device";
      break;
    default:
      text += std::generic_category().message(error);
      break;
  }
  return {error, text};
}

TOpenError DescribeOpenError(const std::string& path, int error) {
  const bool refused = error == EACCES || error == EPERM;
  return DescribeOpenError(path, error,
                           refused && !path.empty() ? ExamineDevice(path) : std::nullopt);
}

}  // namespace comm
