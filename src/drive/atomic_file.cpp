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

// What writing to path means: the file a chain of symbolic links ends at.
std::filesystem::path resolved(const std::string& path) {
  std::error_code unresolved;
  if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, unresolved))) return path;
  const std::filesystem::path target = std::filesystem::weakly_canonical(path, unresolved);
  return unresolved ? std::filesystem::path(path) : target;
}

core::Failure is_a_folder(const std::string& path) {
  return core::fail(core::FailureKind::config, "cannot write " + path + ": it is a folder");
}

}  // namespace

core::Status check_writable(const std::string& path) {
  namespace fs = std::filesystem;
  const fs::path target = resolved(path);
  std::error_code unseen;
  const fs::file_status existing = fs::status(target, unseen);
  if (fs::is_directory(existing)) return is_a_folder(path);
  const bool replaced = !fs::exists(existing) || fs::is_regular_file(existing);
  // A file is replaced by a new one beside it: the folder must take one.
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  if (core::Status allowed = os_file::may_write(replaced ? folder : target); !allowed) {
    return cannot_write(path, allowed.error());
  }
  return {};
}

core::Status write_file_atomically(const std::string& path, std::string_view text) {
  namespace fs = std::filesystem;
  const fs::path target = resolved(path);
  std::error_code unseen;
  const fs::file_status existing = fs::status(target, unseen);
  if (fs::is_directory(existing)) return is_a_folder(path);
  // /dev/null, a FIFO, a terminal: written to, never replaced by a file of that name.
  if (fs::exists(existing) && !fs::is_regular_file(existing)) {
    if (core::Status written = os_file::write_existing(target, text); !written) return cannot_write(path, written.error());
    return {};
  }
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
