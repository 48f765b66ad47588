// A file replaced whole or not at all: the text goes into a new file beside the
// target, reaches the disk, and only then takes the target's name. A crash or a
// full disk leaves the old file as it was.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"

namespace drive {

// The text in a temporary file next to path, then renamed over it. An existing
// file's permissions are kept; a new file gets the usual ones (0666 less the umask).
// A symbolic link is followed: its target is replaced, the link stays. A path that
// names something other than a file (a device, a FIFO, a terminal) is written to as it
// is, never replaced; a folder is refused.
core::Status write_file_atomically(const std::string& path, std::string_view text);

// Whether write_file_atomically(path) can be expected to work, asked before anything
// else is done: the folder it goes into exists and may be written, or the device it
// names may be written. The failure says why not.
core::Status check_writable(const std::string& path);

// The part that differs by system (atomic_file_posix.cpp, atomic_file_win32.cpp).
// The failures carry the system's reason as their text.
namespace os_file {

enum class Created : uint8_t { written, name_taken };

// A new file at path holding text and flushed to the disk; name_taken, with nothing
// written, where a file of that name exists: another writer's file is never taken
// over. On POSIX the file gets permissions where given.
core::Result<Created> write_new(const std::filesystem::path& path, std::string_view text,
                                std::optional<std::filesystem::perms> permissions);

// text written into what path already names (a device, a FIFO), which is not replaced.
core::Status write_existing(const std::filesystem::path& path, std::string_view text);

// Whether the user may write to path (an existing thing, or a folder).
core::Status may_write(const std::filesystem::path& path);

// path renamed over target, and the directory's new entry flushed to the disk (POSIX).
// On Windows an existing target's security settings and attributes stay.
core::Status move_over(const std::filesystem::path& path, const std::filesystem::path& target);

}  // namespace os_file

}  // namespace drive
