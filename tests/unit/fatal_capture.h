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
  // Named after the running test: ctest runs tests in parallel processes.
  static int serial = 0;
  const auto* test = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(test->test_suite_name()) + "." + test->name();
  for (char& c : name)
    if (c == '/') c = '_';
  const std::string path = testing::TempDir() + "unit_fatal_" + name + "_" + std::to_string(++serial) + ".out";
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
