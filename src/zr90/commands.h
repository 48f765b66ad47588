// The workbench's commands; each returns the run's exit code.
#pragma once

#include <string>
#include <vector>

#include "zr90/session.h"

namespace zr90 {

int run_list(const Options& options, const std::vector<std::string>& patterns);
int run_get(const Options& options, const std::vector<std::string>& names);
int run_set(const Options& options, const std::vector<std::string>& assignments);
int run_watch(const Options& options, const std::vector<std::string>& names);
int run_faults(const Options& options);
int run_completion(const std::string& shell);

}  // namespace zr90
