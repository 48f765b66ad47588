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
// What discarding costs per character: a pause before and after each one.
constexpr auto TOSS_PACE = std::chrono::milliseconds(2);

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

bool SERTOSSCHARS() {
  if (!SER) return true;
  const auto start = std::chrono::steady_clock::now();
  const auto give_up = start + TOSS_LIMIT;
  std::size_t tossed = 0;
  for (;;) {
    platform::console::sleep_ms(1);
    // Everything pending goes in one round: all of it is already here, so taking it
    // waits for nothing.
    const std::size_t pending = SER->pending();
    if (pending > 0) SER->RECVBUFFERSTR(pending, config::CHARTIMEOUT);
    tossed += pending;
    platform::console::sleep_ms(1);
    const bool quiet = SER->pending() == 0;
    const auto now = std::chrono::steady_clock::now();
    // Discarding one character per round would keep the line watched for about
    // TOSS_PACE per character; a backlog taken at once must not stop the watch
    // sooner, or the rest of an answer still on its way (a slow rate, a UART that
    // delivers in batches) would be taken for the next reply.
    if (quiet && now - start >= TOSS_PACE * static_cast<int64_t>(tossed)) return true;
    if (now >= give_up) return quiet;
  }
}

void SERSETRTSHIGH() {
  if (SER) SER->SETRTSF(true);
}

}  // namespace serial
