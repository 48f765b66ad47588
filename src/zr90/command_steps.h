// The steps of zr90's commands that the console runs too, on a session it keeps
// open: the writes of set, the fault report and the saving of the settings.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drive/parameter.h"
#include "zr90/commands.h"
#include "zr90/session.h"

namespace zr90 {

struct Assignment {
  drive::Parameter parameter;
  uint64_t value = 0;
};

// Every NAME=VALUE checked before anything is written; a bad one has been said.
std::optional<std::vector<Assignment>> parse_assignments(const std::vector<std::string>& texts);
// How many of the assignments persist in the drive's EEPROM.
std::size_t eeprom_count(const std::vector<Assignment>& assignments);
// "write 2 EEPROM settings on axes 0,2? [y/N] ", naming configuration locations first.
std::string eeprom_question(const std::vector<Assignment>& assignments, const std::vector<uint8_t>& axes);

// One write on one axis, with the old value when it is to be shown and the
// read-back; true when everything verified. What is to be printed is added to shown
// (text) or rows (JSON); a failure has been said.
bool write_one(Session& session, const Options& options, uint8_t axis, const Assignment& assignment, std::string& shown,
               nlohmann::ordered_json& rows);

// The fault and status words of each axis of the session, decoded.
struct FaultReport {
  std::string text;  // "no faults" for a well axis, or every word
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  bool any_fault = false;
  bool read_all = true;  // false: a word could not be read (and that has been said)
};
FaultReport read_fault_report(Session& session);

// Every EEPROM setting (with ram, the RAM ones too) of the session's live axes into
// request.file, or to standard output without one; the run's exit code.
int save_settings(Session& session, int exit_code, const SettingsRequest& request);

}  // namespace zr90
