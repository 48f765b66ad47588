// 32-bit register access to the FPGA interface card, routed by interface kind.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/udp_socket.h"

namespace card {

inline constexpr char EZAL16PORT[] = "27181";
inline constexpr int EZAL16TIMEOUT_MS = 1000;

// The run's socket to the card; created by the EZAL16 interface stage.
extern std::unique_ptr<platform::UdpSocket> SOCKET;
// Base of the card's memory window; nothing sets it.
extern uint32_t PCIMADDR;

// Datagrams, as plain functions over bytes.
std::string ezal16_write_request(uint16_t ADDR, int32_t DATA);
std::string ezal16_read_request(uint16_t ADDR);

void EZAL16WRITEQX3(uint16_t ADDR, int32_t DATA);
int32_t EZAL16READQX3(uint16_t ADDR);
void OSZALWRITELONG(uint16_t ADDR, int32_t DATA);
int32_t OSZALREADLONG(uint16_t ADDR);
void FASTWRITEEPP32(uint16_t ADDR, int32_t DATA);
int32_t FASTREADEPP32(uint16_t ADDR);
void WRITEMEM32(uint32_t ADDR, int32_t DATA);
void READMEM32(uint32_t ADDR, int32_t& DATA);

void WRITE32(uint16_t ADDR, int32_t DATA);
int32_t READ32(uint16_t ADDR);

// Seam for unit tests: the socket the EZAL16 stage creates. Defaults to the platform's.
using SocketFactory = std::unique_ptr<platform::UdpSocket> (*)();
void set_socket_factory(SocketFactory factory);
std::unique_ptr<platform::UdpSocket> create_socket();

}  // namespace card
