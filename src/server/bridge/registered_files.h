// The files that --register writes and --unregister removes, and how a file is recognised as
// one of them: registration never overwrites or removes a file it did not write.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace ruzazuv::bridge {

inline constexpr const char* kRegistrationMarker =
    "# Installed by ruzazuv-bridge --register; ruzazuv-bridge --unregister removes it.";

// Whether a file carries kRegistrationMarker as one of its lines.
bool carriesMarkerLine(const std::filesystem::path& file);

using OwnershipTest = std::function<bool(const std::filesystem::path&)>;

// A file that exists and is not a regular file of ours blocks us; a missing one or ours does not.
bool inTheWay(const std::filesystem::path& file, const OwnershipTest& ours = carriesMarkerLine);

// Writes the whole text beside the file and renames it over, so that a reader never sees half a
// file; creates the directories. Logs "wrote FILE"; false with `*error` set on failure.
// `mode`, when given, replaces the permissions the process's umask leaves.
bool writeRegisteredFile(const std::filesystem::path& file, const std::string& text,
                         std::string* log, std::string* error,
                         std::optional<std::filesystem::perms> mode = std::nullopt);

// Removes the file when it is a regular file of ours; logs "removed FILE". True when removed.
bool removeIfOurs(const std::filesystem::path& file, std::string* log,
                  const OwnershipTest& ours = carriesMarkerLine);

}  // namespace ruzazuv::bridge
