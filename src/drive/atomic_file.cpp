#include "drive/atomic_file.h"

#include <random>

namespace drive {

namespace {

// A file of the temporary's name (another writer's, or one left by a crash) is never
// taken over: another random name is tried.
constexpr int NAME_ATTEMPTS = 16;

std::filesystem::path temporary_beside(const std::filesystem::path& target, std::random_device& random) {
  // Built by appending: "literal" + std::string&& trips a false -Wrestrict in GCC 12.
  std::string name(1, '.');
  name.append(target.filename().string()).append(".tmp").append(std::to_string(random()));
  return target.parent_path() / name;
}

core::Failure cannot_write(const std::string& path, const core::Failure& reason) {
  return core::fail(core::FailureKind::config, "cannot write " + path + ": " + reason.text);
}

}  // namespace

core::Status write_file_atomically(const std::string& path, std::string_view text) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  std::error_code unseen;
  const fs::file_status existing = fs::status(target, unseen);
  const std::optional<fs::perms> permissions =
      fs::exists(existing) ? std::optional<fs::perms>(existing.permissions()) : std::nullopt;
  std::random_device random;
  for (int attempt = 0; attempt < NAME_ATTEMPTS; ++attempt) {
    const fs::path temporary = temporary_beside(target, random);
    const core::Result<os_file::Created> created = os_file::write_new(temporary, text, permissions);
    if (!created) return cannot_write(path, created.error());
    if (*created == os_file::Created::name_taken) continue;
    if (core::Status moved = os_file::move_over(temporary, target); !moved) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      return cannot_write(path, moved.error());
    }
    return {};
  }
  return core::fail(core::FailureKind::config,
                    "cannot write " + path + ": no free name for a temporary file beside it");
}

}  // namespace drive
