// The two ways the simulated card is reached: EZAL16 datagrams on a UDP address,
// and its ZAL serial host port on a pseudo-terminal. Each serves until SIGTERM or
// SIGINT and returns the process's exit code.
#pragma once

#include <string>

#include "card_faults.h"
#include "card_model.h"
#include "card_zal_port.h"
#include "trace.h"

namespace sim {

inline constexpr int EZAL16_PORT = 27181;
// Exit code when the address or the pseudo-terminal cannot be had: a test then
// tries another address.
inline constexpr int EXIT_NO_ENDPOINT = 3;

int serve_card_udp(CardModel& card, const CardFaults& faults, const std::string& address, int port,
                   Trace& trace);
int serve_card_pty(CardModel& card, const CardFaults& faults, CrcMode mode, const std::string& link,
                   Trace& trace);

// SIGTERM and SIGINT are held back except while waiting, so that a stop request is
// seen between two requests and never in the middle of one; so is SIGUSR1, the
// request to take in everything the host has sent and then print "idle".
void install_stop_signals();
// 1: fd readable; 0: timeout_ms passed (-1 waits without limit) or SIGUSR1 came;
// -1: stop requested.
int wait_readable(int fd, int timeout_ms);
// Until fd takes more output: 1 (or 0 when a signal came meanwhile); -1: stop requested.
int wait_writable(int fd);
// True once after each SIGUSR1.
bool take_idle_request();

}  // namespace sim
