#include "platform/win32.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/serial_ports.h"

namespace platform {

namespace {

// "COM12" -> 12; names of another form sort after the numbered ones.
unsigned long com_number(const std::string& name) {
  if (name.size() < 4 || name.compare(0, 3, "COM") != 0) return ~0ul;
  unsigned long number = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return ~0ul;
    number = number * 10 + static_cast<unsigned long>(name[i] - '0');
  }
  return number;
}

}  // namespace

// The system keeps every serial port it has in this key: one value per port, the
// port's name as its data.
std::vector<std::string> serial_port_names() {
  std::vector<std::string> names;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return names;
  }
  for (DWORD index = 0;; ++index) {
    char value_name[256];
    DWORD name_size = sizeof value_name;
    BYTE data[256];
    DWORD data_size = sizeof data - 1;
    DWORD type = 0;
    const LONG got = RegEnumValueA(key, index, value_name, &name_size, nullptr, &type, data, &data_size);
    if (got == ERROR_NO_MORE_ITEMS) break;
    if (got != ERROR_SUCCESS || type != REG_SZ) continue;
    data[data_size] = 0;
    const std::string name(reinterpret_cast<const char*>(data));
    if (!name.empty()) names.push_back(name.c_str());
  }
  RegCloseKey(key);
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return com_number(a) != com_number(b) ? com_number(a) < com_number(b) : a < b;
  });
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

}  // namespace platform
