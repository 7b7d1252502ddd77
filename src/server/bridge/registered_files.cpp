#include "bridge/registered_files.h"

#include <fstream>
#include <system_error>

namespace ruzazuv::bridge {
namespace fs = std::filesystem;

bool carriesMarkerLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line))
    if (line == kRegistrationMarker) return true;
  return false;
}

bool inTheWay(const fs::path& file, const OwnershipTest& ours) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(file, ec);
  if (ec || !fs::exists(status)) return false;
  return !fs::is_regular_file(status) || !ours(file);
}

bool writeRegisteredFile(const fs::path& file, const std::string& text, std::string* log,
                         std::string* error, std::optional<fs::perms> mode) {
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  if (ec) {
    *error = "cannot create " + file.parent_path().string() + ": " + ec.message();
    return false;
  }
  const fs::path temp = file.string() + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      *error = "cannot write " + temp.string();
      fs::remove(temp, ec);
      return false;
    }
  }
  if (mode) fs::permissions(temp, *mode, fs::perm_options::replace, ec);
  if (!ec) fs::rename(temp, file, ec);
  if (ec) {
    *error = "cannot write " + file.string() + ": " + ec.message();
    fs::remove(temp, ec);
    return false;
  }
  *log += "wrote " + file.string() + "\n";
  return true;
}

bool removeIfOurs(const fs::path& file, std::string* log, const OwnershipTest& ours) {
  std::error_code ec;
  if (!fs::is_regular_file(fs::symlink_status(file, ec)) || !ours(file)) return false;
  if (!fs::remove(file, ec)) return false;
  *log += "removed " + file.string() + "\n";
  return true;
}

}  // namespace ruzazuv::bridge
