#include "drive_options.h"

#include <cerrno>
#include <cstdlib>

namespace sim {

namespace {

// 0x.. hexadecimal or decimal, within [0, max].
bool parse_number(const std::string& text, unsigned long max, unsigned long& value) {
  if (text.empty()) return false;
  int base = 10;
  std::string digits = text;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    digits = text.substr(2);
  }
  if (digits.empty() || digits[0] == '-' || digits[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtoul(digits.c_str(), &end, base);
  return errno == 0 && end != nullptr && *end == '\0' && value <= max;
}

bool parse_preset(const std::string& text, std::vector<std::pair<uint16_t, uint16_t>>& into) {
  auto eq = text.find('=');
  if (eq == std::string::npos) return false;
  unsigned long address = 0;
  unsigned long value = 0;
  if (!parse_number(text.substr(0, eq), 0xFFFF, address) || !parse_number(text.substr(eq + 1), 0xFFFF, value))
    return false;
  into.emplace_back(static_cast<uint16_t>(address), static_cast<uint16_t>(value));
  return true;
}

bool parse_count(const std::string& text, const std::string& prefix, int& into) {
  unsigned long n = 0;
  if (!parse_number(text.substr(prefix.size()), 1000000, n)) return false;
  into = static_cast<int>(n);
  return true;
}

// "N:MS": transaction N (from 1), MS milliseconds.
bool parse_timed(const std::string& text, const std::string& prefix, std::vector<DriveFaults::Timed>& into) {
  const std::string rest = text.substr(prefix.size());
  const auto colon = rest.find(':');
  if (colon == std::string::npos) return false;
  unsigned long transaction = 0;
  unsigned long ms = 0;
  if (!parse_number(rest.substr(0, colon), 1000000, transaction) || transaction < 1 ||
      !parse_number(rest.substr(colon + 1), 60000, ms))
    return false;
  into.push_back({static_cast<int>(transaction), static_cast<int>(ms)});
  return true;
}

// "N:TEXT": transaction N (from 1), any text after the colon.
bool parse_garbled(const std::string& text, const std::string& prefix, std::vector<DriveFaults::Garbled>& into) {
  const std::string rest = text.substr(prefix.size());
  const auto colon = rest.find(':');
  unsigned long transaction = 0;
  if (colon == std::string::npos || !parse_number(rest.substr(0, colon), 1000000, transaction) || transaction < 1)
    return false;
  into.push_back({static_cast<int>(transaction), rest.substr(colon + 1)});
  return true;
}

bool parse_fault(const std::string& name, DriveFaults& f) {
  if (name == "silent") return f.silent = true;
  if (name == "partial") return f.partial = true;
  if (name == "badcrc") return f.bad_crc = true;
  if (name == "echo") return f.echo = true;
  if (name == "badcookie") return f.bad_cookie = true;
  if (name == "babble") return f.babble = true;
  if (name == "nonvol-stuck") return f.nonvol_stuck = true;
  if (name == "shortid") return f.short_id = true;
  if (name.rfind("silent-after=", 0) == 0) return parse_count(name, "silent-after=", f.silent_after);
  if (name.rfind("drop=", 0) == 0) {
    int n = 0;
    if (!parse_count(name, "drop=", n) || n < 1) return false;
    f.unanswered.push_back(n);
    return true;
  }
  if (name.rfind("delay=", 0) == 0) return parse_count(name, "delay=", f.delay_ms);
  if (name.rfind("late=", 0) == 0) return parse_timed(name, "late=", f.late);
  if (name.rfind("split=", 0) == 0) return parse_timed(name, "split=", f.split);
  if (name.rfind("extra=", 0) == 0) {
    int n = 0;
    if (!parse_count(name, "extra=", n) || n < 1) return false;
    f.extra.push_back(n);
    return true;
  }
  if (name.rfind("stray=", 0) == 0) {
    int n = 0;
    if (!parse_count(name, "stray=", n) || n < 1) return false;
    f.stray.push_back(n);
    return true;
  }
  if (name.rfind("garble=", 0) == 0) return parse_garbled(name, "garble=", f.garbled);
  return false;
}

}  // namespace

bool parse_drive_options(const std::vector<std::string>& args, DriveOptions& o, std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      o.help = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      error = "unknown option or missing value: " + arg;
      return false;
    }
    const std::string& value = args[++i];
    bool ok = true;
    unsigned long n = 0;
    if (arg == "--protocol") {
      ok = value == "hex" || value == "zal";
      o.protocol = value == "hex" ? DriveProtocol::text : DriveProtocol::zal;
    } else if (arg == "--crc") {
      ok = value == "off" || value == "on" || value == "either";
      o.crc = value == "on" ? CrcMode::on : value == "either" ? CrcMode::either : CrcMode::off;
    } else if (arg == "--link") {
      o.link_path = value;
    } else if (arg == "--trace") {
      o.trace_path = value;
    } else if (arg == "--ram") {
      ok = parse_preset(value, o.ram_presets);
    } else if (arg == "--eeprom") {
      ok = parse_preset(value, o.eeprom_presets);
    } else if (arg == "--fault") {
      ok = parse_fault(value, o.faults);
    } else if (arg == "--identity") {
      ok = value.size() == 4;
      o.identity = value;
    } else if (arg == "--model") {
      ok = parse_motion_model(value, o.motion.moving);
    } else if (arg == "--seed") {
      ok = parse_motion_seed(value, o.motion.seed);
    } else if (arg == "--baud") {
      ok = parse_number(value, 100000000, n) && n > 0;
      o.baud = static_cast<long>(n);
    } else if (arg == "--silence") {
      ok = parse_number(value, 60000, n) && n > 0;
      o.silence_ms = static_cast<int>(n);
    } else {
      error = "unknown option: " + arg;
      return false;
    }
    if (!ok) {
      error = "bad value for " + arg + ": " + value;
      return false;
    }
  }
  return true;
}

const char* drive_help() {
  return R"(Usage: zr90sim drive [options]

Plays a ZR90 drive on a pseudo-terminal. Once the line is ready it prints
"ready <slave path>"; point the tools at it with ZR90_COMn=<slave path> and
COMPORT=COMn. It serves until SIGTERM or SIGINT (Ctrl-C), keeping its RAM and
EEPROM for the whole run, then prints one "stats ..." line. On SIGUSR1 it takes in
everything sent to it so far, lets pending frames and replies run their course, and
prints "idle": a script can then start the next tool without that tool's flush of
the line throwing away what the last one sent.

Options:
  --protocol hex|zal     text host protocol or ZAL (default zal)
  --crc off|on|either    ZAL only (default off)
                           off: frames carry no CRC byte, writes are not acknowledged
                           on: every request must end with its CRC-8 byte; replies carry
                               one, writes get one acknowledge byte (0x00); a request whose
                               CRC is wrong is dropped without reply and counted
                           either: after a complete frame, waits 5 ms for one more byte;
                               if it is the frame's CRC the answer is in CRC mode, else plain
  --link PATH            also make a symbolic link PATH to the slave (removed at the end)
  --trace FILE           write every byte on the wire to FILE, one line per frame or reply:
                           "> 45 12 08" from the host, "< B0 04" to the host, "# ..." notes
  --ram ADDR=VALUE       preset the RAM word at register address ADDR (repeatable)
  --eeprom ADDR=VALUE    preset the EEPROM word at byte address ADDR (repeatable)
                         numbers are decimal or 0x.. hexadecimal, 0 to 0xFFFF
  --identity XXXX        the four characters the text protocol's II answers (default ZR90)
  --silence MS           a partial frame is dropped after MS ms without a byte (default 20)
  --baud RATE            answer only while the line is set to RATE bit/s, as a drive with a
                         fixed rate: bytes sent at another rate are dropped unanswered
                         (default: any rate)
  --model static|moving  static (default): every value stays as preloaded or written;
                           moving: iq and id follow qsetpoint and dsetpoint through the
                           current loop while pidena is not 0, the phase currents, angle,
                           temperature and busv follow (see the documentation)
  --seed N               moving only: the seed of the noise on busv (default 1)
  --fault NAME           inject a fault (repeatable):
                           silent          never answers
                           silent-after=N  answers the first N transactions, then goes silent
                           drop=N          leaves the N-th transaction (from 1) unanswered
                           partial         every reply loses its last byte
                           badcrc          every CRC byte sent (replies, acknowledges) is wrong
                           echo            echoes every byte received instead of answering
                           badcookie       the cookie register (0xDF) answers 0xA5
                           babble          sends bytes (0x55) continuously and never answers
                           nonvol-stuck    the non-volatile flag (0xCC) cannot be cleared
                           shortid         the text protocol's II answers 3 characters and no CR
                           delay=MS        every reply starts MS ms late
                           late=N:MS       the N-th transaction's reply starts MS ms late
                           split=N:MS      the N-th reply goes out in two halves, MS ms apart
                           extra=N         the N-th reply is sent twice
                           stray=N         the N-th reply is followed by one stray byte (0x37, "7")
                           garble=N:TEXT   the N-th reply is TEXT and CR instead (for the text
                                           protocol: "ZZZZ", "12G4", a short "12")

ZAL: data commands 0x44-0x47 (read 1, 2, 4, 8 bytes) and 0x64-0x67 (write), each with
two address bytes (low first), data least significant byte first; local reads
0xC0+n (one byte), local writes 0xE0+n and a value. Cookie 0xDF answers 0x5A. While
the non-volatile flag 0xCC holds 1, data commands address the 128-byte EEPROM.
RAM register addresses index 16-bit words: a long at A is the words at A and A+1.

Text host protocol (lines end with CR): II -> identity + CR; RWaaaa -> word at RAM
register (aaaa - 0x800) / 2 as 4 hex digits + CR; Reaaaa -> EEPROM word; WWaaaadddd
and Weaaaadddd -> CR; anything else -> "?" + CR.

Preloaded RAM (register address: value): pidena 0x804: 1, pwm 0x808: -120,
phasek 0x80A: 200000, phasea 0x80E: -5000, kqp 0x812: 1200, kqi 0x814: 70000,
kqil 0x818: 32000, kdp 0x81A: 1000, kdi 0x81C: 50000, kdil 0x820: 32000,
iu 0x822: -12, iv 0x824: 7, iw 0x826: 5, busv 0x828: 3250, temperature 0x82C: 35,
faultmask 0x858: 0xFFFF, status 0x86E: 1, cputype 0x870: 0x3011,
swrevision 0x874: 0x0123, sysclk 0x876: 29491200, bigcookie 0x87A: 0x12345678,
biggercookie 0x87E: 0x123456789ABCDEF0, hwrevision 0x886: 3, one 0x898: 1,
true 0x89A: 0xFFFF, minusone 0x89C: -1, capture 0x8EE: 0x1000, unitnumber 0x928: 1001;
every other register 0.
Preloaded EEPROM (byte address: value): nvmaxmodulei 0x00: 2000, nvmaxcurrent 0x02: 1500,
nvkqp 0x0A: 1200, nvkqi 0x0C: 70000, nvkqil 0x10: 32000, nvkdp 0x12: 1000,
nvkdi 0x14: 50000, nvcookie 0x7E: 0x5A5A; see the documentation for the rest.

With --model moving (illustrative, not a real drive's scaling) every access first
runs the drive up to now in 1 ms steps: while pidena is not 0 and no fault that
faultmask lets through is set, iq and id follow qsetpoint and dsetpoint through PI
loops (kqp, kqi, kqil and kdp, kdi, kdil; a larger kqp follows faster), limited to
currentlimit; iu, iv, iw and angle follow the turning rotor; temperature rises with
the square of the current and falls back to 35. Past tempilimit (preset 80) the
limit drops by tempislope (preset 20) per degree and status bit ILIMITEDSTATUS is
set; 20 degrees further fault bit OVERTEMPFAULT is set and stays until cleared.
busv sags with the current and ripples. A value written to any of these is the
model's again at the next access.
)";
}

}  // namespace sim
