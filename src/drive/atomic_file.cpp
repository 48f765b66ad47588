#include "drive/atomic_file.h"

#include <filesystem>
#include <fstream>
#include <random>

namespace drive {

namespace {

core::Failure refused(const std::string& text) { return core::fail(core::FailureKind::config, text); }

}  // namespace

core::Status write_file_atomically(const std::string& path, std::string_view text) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  std::random_device random;
  // Built by appending: "literal" + std::string&& trips a false -Wrestrict in GCC 12.
  std::string name(1, '.');
  name.append(target.filename().string()).append(".tmp").append(std::to_string(random()));
  const fs::path temporary = target.parent_path() / name;
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      return refused("cannot write " + path);
    }
  }
  std::error_code error;
  fs::rename(temporary, target, error);
  if (error) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return refused("cannot write " + path + ": " + error.message());
  }
  return {};
}

}  // namespace drive
