#include "card/hostbus.h"

#include "config/config.h"
#include "core/fatal.h"
#include "zal/zal.h"

namespace card {

std::unique_ptr<platform::UdpSocket> SOCKET;
uint32_t PCIMADDR = 0;

namespace {

constexpr uint8_t EZAL16_COMMAND_LOW = 0x01;
constexpr uint8_t EZAL16_READ_HIGH = 0x42;
constexpr uint8_t EZAL16_WRITE_HIGH = 0xC2;  // the read command with the write bit (15) set
constexpr std::size_t EZAL16_REPLY_SIZE = 4;

SocketFactory socket_factory = &platform::make_udp_socket;

void append_le(std::string& bytes, uint32_t value, int count) {
  for (int i = 0; i < count; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::string request_head(uint8_t command_high, uint16_t ADDR) {
  std::string bytes;
  bytes.push_back(static_cast<char>(EZAL16_COMMAND_LOW));
  bytes.push_back(static_cast<char>(command_high));
  append_le(bytes, ADDR, 2);
  return bytes;
}

}  // namespace

std::string ezal16_write_request(uint16_t ADDR, int32_t DATA) {
  std::string bytes = request_head(EZAL16_WRITE_HIGH, ADDR);
  append_le(bytes, static_cast<uint32_t>(DATA), 4);
  return bytes;
}

std::string ezal16_read_request(uint16_t ADDR) { return request_head(EZAL16_READ_HIGH, ADDR); }

void EZAL16WRITEQX3(uint16_t ADDR, int32_t DATA) {
  // Writes are not acknowledged by the card; a lost datagram goes unnoticed.
  SOCKET->send(ezal16_write_request(ADDR, DATA));
}

int32_t EZAL16READQX3(uint16_t ADDR) {
  SOCKET->send(ezal16_read_request(ADDR));
  const std::string reply = SOCKET->receive_packet(EZAL16TIMEOUT_MS);
  if (SOCKET->last_error() != 0) core::BUMOUT(SOCKET->last_error_text());
  // A truncated reply carries no usable value; guessing the missing bytes would
  // hand the caller a register value the card never sent.
  if (reply.size() < EZAL16_REPLY_SIZE) {
    core::BUMOUT("Short reply from card: " + std::to_string(reply.size()) + " bytes");
  }
  uint32_t value = 0;
  for (std::size_t i = 0; i < EZAL16_REPLY_SIZE; ++i) {
    value |= static_cast<uint32_t>(static_cast<uint8_t>(reply[i])) << (8 * i);
  }
  return static_cast<int32_t>(value);
}

void OSZALWRITELONG(uint16_t ADDR, int32_t DATA) { zal::ZALWRITELONG(ADDR, DATA); }

int32_t OSZALREADLONG(uint16_t ADDR) { return zal::ZALREADLONG(ADDR); }

// The parallel-port and memory-window transports have no access path here.
void FASTWRITEEPP32(uint16_t, int32_t) {}
int32_t FASTREADEPP32(uint16_t) { return 0; }
void WRITEMEM32(uint32_t, int32_t) {}
void READMEM32(uint32_t, int32_t& DATA) { DATA = 0; }

void WRITE32(uint16_t ADDR, int32_t DATA) {
  using config::INTERFACETYPES;
  switch (config::THEINTERFACE) {
    case INTERFACETYPES::EZAL16: EZAL16WRITEQX3(ADDR, DATA); break;
    case INTERFACETYPES::OSZAL: OSZALWRITELONG(ADDR, DATA); break;
    case INTERFACETYPES::EPP: FASTWRITEEPP32(ADDR, DATA); break;
    case INTERFACETYPES::PCIMEM: WRITEMEM32(PCIMADDR + ADDR, DATA); break;
    case INTERFACETYPES::PCIPORT:
    case INTERFACETYPES::ISAPORT:
    case INTERFACETYPES::OSDEVICE: break;
  }
}

int32_t READ32(uint16_t ADDR) {
  using config::INTERFACETYPES;
  switch (config::THEINTERFACE) {
    case INTERFACETYPES::EZAL16: return EZAL16READQX3(ADDR);
    case INTERFACETYPES::OSZAL: return OSZALREADLONG(ADDR);
    case INTERFACETYPES::EPP: return FASTREADEPP32(ADDR);
    case INTERFACETYPES::PCIMEM: {
      int32_t data = 0;
      READMEM32(PCIMADDR + ADDR, data);
      return data;
    }
    case INTERFACETYPES::PCIPORT:
    case INTERFACETYPES::ISAPORT:
    case INTERFACETYPES::OSDEVICE: break;
  }
  // No register path: 0 never matches the identification cookie, so the card
  // check ends the run with its own message.
  return 0;
}

void set_socket_factory(SocketFactory factory) {
  socket_factory = factory != nullptr ? factory : &platform::make_udp_socket;
}

std::unique_ptr<platform::UdpSocket> create_socket() { return socket_factory(); }

}  // namespace card
