#include "serial/serial.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "config/config.h"
#include "core/text.h"
#include "dictionary/dictionary.h"
#include "platform/console.h"

namespace serial {

std::unique_ptr<platform::SerialPort> SER;
bool SERERROR = false;
bool EXITONTIMEOUT = false;

namespace {

DeviceFactory device_factory = platform::make_serial_device;

// Ports replaced by a later SEROPEN stay open, as they would without a close: the
// line they hold is still taken, so the later open fails as it must.
std::vector<std::unique_ptr<platform::SerialPort>>& retired_ports() {
  static std::vector<std::unique_ptr<platform::SerialPort>> ports;
  return ports;
}

// A line that never stops talking must not hold the run for ever: discarding
// gives up after this long and the caller's synchronisation then fails.
constexpr auto TOSS_LIMIT = std::chrono::milliseconds(2000);

bool line_rate(int32_t& rate) {
  if (!(config::THEBAUDRATEMUL > 0)) return false;
  // Halves go to the even neighbour: 2500000 / 64 is 39062.
  const double exact = std::nearbyint(static_cast<double>(config::THEBAUDRATE) / config::THEBAUDRATEMUL);
  if (!(exact >= 1) || exact > std::numeric_limits<int32_t>::max()) return false;
  rate = static_cast<int32_t>(exact);
  return true;
}

}  // namespace

void set_device_factory(DeviceFactory factory) {
  device_factory = factory != nullptr ? factory : platform::make_serial_device;
}

bool SEROPEN(std::string& MESSAGE) {
  MESSAGE.clear();
  bool OPENOK = false;
  if (SER) retired_ports().push_back(std::move(SER));
  SER = std::make_unique<platform::SerialPort>(device_factory());
  const bool connected = SER->CONNECT(config::THECOMPORT);
  int32_t rate = 0;
  const bool configured = connected && line_rate(rate) && SER->CONFIG(rate);
  SERTOSSCHARS();
  if (connected && configured) {
    OPENOK = true;
  } else {
    MESSAGE = config::THECOMPORT;
  }
  if (OPENOK) {
    MESSAGE = core::shortstring(MESSAGE + " open ok");
    return true;
  }
  MESSAGE = core::shortstring(MESSAGE + " open failed");
  return false;
}

bool SERRECVCHAR(uint8_t& C) {
  SERERROR = true;
  C = 0;
  if (!SER) return false;
  C = SER->RECVBYTE(config::CHARTIMEOUT);
  if (SER->last_error() != platform::SerialError::none) {
    if (EXITONTIMEOUT) dict::ERROR(dict::CHARTIMEOUTERR);
    return false;
  }
  SERERROR = false;
  return true;
}

bool SERRECVSTRING(int16_t N, std::string& S) {
  S.clear();
  if (!SER) return N <= 0;
  if (N <= 0) return true;
  S = SER->RECVBUFFERSTR(static_cast<std::size_t>(N), config::CHARTIMEOUT);
  if (SER->last_error() != platform::SerialError::none) {
    S.clear();
    return false;
  }
  S = core::shortstring(std::move(S));
  return true;
}

void SERSENDCHAR(uint8_t C) {
  if (SER) SER->SENDBYTE(C);
}

void SERSENDSTRING(const std::string& S) {
  if (SER) SER->SENDSTRING(S);
}

void SERTOSSCHARS() {
  if (!SER) return;
  const auto give_up = std::chrono::steady_clock::now() + TOSS_LIMIT;
  for (;;) {
    platform::console::sleep_ms(1);
    // Everything pending goes in one round: all of it is already here, so taking it
    // waits for nothing.
    const std::size_t pending = SER->pending();
    if (pending > 0) SER->RECVBUFFERSTR(pending, config::CHARTIMEOUT);
    platform::console::sleep_ms(1);
    if (SER->pending() == 0 || std::chrono::steady_clock::now() >= give_up) return;
  }
}

void SERSETRTSHIGH() {
  if (SER) SER->SETRTSF(true);
}

}  // namespace serial
