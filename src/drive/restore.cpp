#include "drive/restore.h"

#include "drive/reading.h"

namespace drive {

namespace {

bool contains(const Parameter& outer, const Parameter& inner) {
  const unsigned outer_end = outer.location.address + static_cast<unsigned>(outer.location.width);
  const unsigned inner_end = inner.location.address + static_cast<unsigned>(inner.location.width);
  return outer.location.address <= inner.location.address && inner_end <= outer_end;
}

Outcome outcome_of(const WriteOutcome& write) {
  if (write.failure) return Outcome::unconfirmed;
  return write.mismatch ? Outcome::differs : Outcome::verified;
}

bool stops_every_axis(const WriteOutcome& write) {
  return write.failure && (core::ends_the_link(*write.failure) || write.failure->kind == core::FailureKind::nonvolatile);
}

class Restorer {
 public:
  Restorer(core::Backend& access, const RestoreCallbacks& callbacks) : access_(access), callbacks_(callbacks) {}

  void run(AxisPlan& plan) {
    bool axis_stopped = false;
    for (Change& change : plan.changes) {
      if (!cancelled_ && callbacks_.cancelled && callbacks_.cancelled()) cancelled_ = true;
      if (stop_all_ || axis_stopped || cancelled_) {
        change.outcome = Outcome::not_written;
        continue;
      }
      // A change whose bytes another wrote shares that one's fate, unless that was written and verified.
      if (change.covered_by) {
        const Outcome covering = plan.changes[*change.covered_by].outcome;
        if (covering != Outcome::verified) {
          change.outcome = covering;
          continue;
        }
      } else if (callbacks_.confirm && !callbacks_.confirm(plan.axis, change)) {
        change.outcome = Outcome::not_written;
        continue;
      }
      const WriteOutcome write = write_verified(access_, plan.axis, change.wanted.parameter, change.wanted.bits,
                                                {.read_before = false, .write = !change.covered_by, .read_back = true});
      change.outcome = outcome_of(write);
      if (change.outcome == Outcome::unconfirmed) axis_stopped = true;
      if (stops_every_axis(write)) stop_all_ = true;
      if (callbacks_.progress) callbacks_.progress(plan.axis, change, write);
    }
    if (!stop_all_ && !axis_stopped) check_still_held(plan);
  }

  bool cancelled() const { return cancelled_; }

 private:
  // One batch read of every verified change of the axis (the non-volatile flag set
  // once). A read that fails leaves the outcomes as they are: the writes were seen.
  void check_still_held(AxisPlan& plan) {
    std::vector<core::Location> locations;
    std::vector<Change*> verified;
    for (Change& change : plan.changes) {
      if (change.outcome != Outcome::verified) continue;
      locations.push_back(change.wanted.parameter.location);
      verified.push_back(&change);
    }
    if (locations.empty()) return;
    const core::Result<std::vector<uint64_t>> now = access_.read_eeprom_batch(plan.axis, locations);
    if (!now) return;
    for (std::size_t i = 0; i < verified.size() && i < now->size(); ++i) {
      const Change& change = *verified[i];
      if (width_bits(change.wanted.parameter, (*now)[i]) != change.wanted.bits) verified[i]->outcome = Outcome::overwritten;
    }
  }

  core::Backend& access_;
  const RestoreCallbacks& callbacks_;
  bool stop_all_ = false;
  bool cancelled_ = false;
};

}  // namespace

std::vector<Change> changes_for(const DriveSettings& wanted, const DriveSettings& live) {
  std::vector<Change> changes;
  for (const SavedValue& w : wanted.eeprom) {
    for (const SavedValue& l : live.eeprom) {
      if (l.parameter.name == w.parameter.name && l.bits != w.bits) changes.push_back({w, l.bits, std::nullopt});
    }
  }
  for (std::size_t i = 0; i < changes.size(); ++i) {
    for (std::size_t j = 0; j < i && !changes[i].covered_by; ++j) {
      if (!changes[j].covered_by && contains(changes[j].wanted.parameter, changes[i].wanted.parameter)) {
        changes[i].covered_by = j;
      }
    }
  }
  return changes;
}

RestoreEnd apply_restore(core::Backend& access, std::span<AxisPlan> plans, const RestoreCallbacks& callbacks) {
  Restorer restorer(access, callbacks);
  for (AxisPlan& plan : plans) restorer.run(plan);
  return restorer.cancelled() ? RestoreEnd::cancelled : RestoreEnd::finished;
}

}  // namespace drive
