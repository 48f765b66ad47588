// Command line of "zr90sim drive".
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "drive_motion.h"

namespace sim {

enum class DriveProtocol { text, zal };
enum class CrcMode { off, on, either };

struct DriveFaults {
  bool silent = false;
  bool partial = false;
  bool bad_crc = false;
  bool echo = false;
  bool bad_cookie = false;
  bool babble = false;
  bool nonvol_stuck = false;
  bool short_id = false;
  int silent_after = -1;  // transactions answered before going silent; -1: never
  std::vector<int> unanswered;  // numbers of single transactions left without reply
  int delay_ms = 0;       // added before every reply
  // Per transaction (numbered from 1), for replies that are wrong in time or shape.
  struct Timed {
    int transaction;
    int ms;
  };
  std::vector<Timed> late;   // the reply starts ms late
  std::vector<Timed> split;  // the reply's second half follows its first ms later
  std::vector<int> extra;    // the reply is followed by a second, unasked-for one
  std::vector<int> stray;    // the reply is followed by one stray byte
  struct Garbled {
    int transaction;
    std::string text;
  };
  std::vector<Garbled> garbled;  // the reply is this text and CR instead
};

struct DriveOptions {
  DriveProtocol protocol = DriveProtocol::zal;
  CrcMode crc = CrcMode::off;
  std::string link_path;
  std::string trace_path;
  std::string identity = "ZR90";
  int silence_ms = 20;  // a partial frame older than this is dropped
  int either_wait_ms = 5;
  long baud = 0;  // answers only while the line is set to this rate; 0: at any rate
  std::vector<std::pair<uint16_t, uint16_t>> ram_presets;
  std::vector<std::pair<uint16_t, uint16_t>> eeprom_presets;
  DriveFaults faults;
  MotionOptions motion;
  bool help = false;
};

// False with a one-line reason in error for anything it does not understand.
bool parse_drive_options(const std::vector<std::string>& args, DriveOptions& options, std::string& error);
const char* drive_help();

}  // namespace sim
