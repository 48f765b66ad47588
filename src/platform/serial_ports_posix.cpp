#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/serial_ports.h"

namespace platform {

namespace {

// The kinds of device that are serial ports, in the order they are listed.
constexpr const char* PORT_PREFIXES[] = {"ttyS", "ttyUSB", "ttyACM"};

bool numbered(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

// The kernel keeps a ttyS device for every UART it might have; only one with a
// device behind it and a known UART type is a port. One the user may not open is
// listed, so that the probe can say why it cannot be used.
bool real_uart(const std::string& name) {
  std::error_code unseen;
  if (!std::filesystem::exists("/sys/class/tty/" + name + "/device", unseen)) return false;
  const std::string path = "/dev/" + name;
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno == EACCES || errno == EBUSY;
  serial_struct info{};
  const bool known = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  ::close(fd);
  return known;
}

struct Found {
  std::size_t kind;
  unsigned long number;
  std::string path;
};

}  // namespace

std::vector<std::string> serial_port_names() {
  std::vector<Found> found;
  std::error_code unseen;
  for (const auto& entry : std::filesystem::directory_iterator("/dev", unseen)) {
    const std::string name = entry.path().filename().string();
    for (std::size_t kind = 0; kind < std::size(PORT_PREFIXES); ++kind) {
      const std::string prefix = PORT_PREFIXES[kind];
      if (!numbered(name, prefix)) continue;
      if (kind == 0 && !real_uart(name)) continue;
      found.push_back({kind, std::strtoul(name.c_str() + prefix.size(), nullptr, 10), entry.path().string()});
    }
  }
  std::sort(found.begin(), found.end(),
            [](const Found& a, const Found& b) { return a.kind != b.kind ? a.kind < b.kind : a.number < b.number; });
  std::vector<std::string> names;
  for (const Found& port : found) names.push_back(port.path);
  return names;
}

}  // namespace platform
