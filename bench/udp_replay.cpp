// Replays EZAL16 request datagrams against a card as fast as the link allows: the
// bare cost of the exchanges, with no tool logic around them.
//   udp_replay ADDRESS PORT FILE PASSES
// FILE holds one datagram per line in hexadecimal ("01 42 00 01"); a read request
// (second byte 42) waits for its reply. A line "pause MS" sleeps MS milliseconds,
// where the protocol itself waits. Prints the seconds taken by all passes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: udp_replay ADDRESS PORT FILE PASSES\n");
    return 2;
  }
  struct Step {
    std::string datagram;
    int pause_ms = 0;
  };
  std::vector<Step> steps;
  std::ifstream in(argv[3]);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("pause ", 0) == 0) {
      steps.push_back({"", std::atoi(line.c_str() + 6)});
      continue;
    }
    std::istringstream hex(line);
    std::string datagram;
    for (unsigned byte; hex >> std::hex >> byte;) datagram.push_back(static_cast<char>(byte));
    if (!datagram.empty()) steps.push_back({datagram, 0});
  }
  sockaddr_in card{};
  card.sin_family = AF_INET;
  card.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (inet_pton(AF_INET, argv[1], &card.sin_addr) != 1 || fd < 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&card), sizeof card) != 0) {
    std::perror("udp_replay");
    return 2;
  }
  long passes = std::atol(argv[4]);
  char reply[2048];
  auto start = std::chrono::steady_clock::now();
  for (long pass = 0; pass < passes; ++pass) {
    for (const Step& step : steps) {
      if (step.pause_ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(step.pause_ms));
        continue;
      }
      const std::string& r = step.datagram;
      send(fd, r.data(), r.size(), 0);
      if (r.size() < 2 || static_cast<unsigned char>(r[1]) != 0x42) continue;
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 1000) != 1 || recv(fd, reply, sizeof reply, 0) < 0) {
        std::fprintf(stderr, "udp_replay: no reply\n");
        return 1;
      }
    }
  }
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("%.6f\n", took.count());
  return 0;
}
