// Runs a piece of code that must end the process, in a death-test child with its
// standard output sent to a file, and hands back what it printed.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace unittest {


template <class Fn>
std::string output_of_exit(Fn fn, int expected_code) {
  static int serial = 0;
  const std::string path = testing::TempDir() + "unit_fatal_" + std::to_string(++serial) + ".out";
  std::remove(path.c_str());
  EXPECT_EXIT(
      {
        if (std::freopen(path.c_str(), "w", stdout) == nullptr) std::_Exit(99);
        fn();
      },
      testing::ExitedWithCode(expected_code), "");
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::remove(path.c_str());
  return text.str();
}

}  // namespace unittest
