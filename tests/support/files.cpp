#include "support/files.hpp"

#include <stdlib.h>

#include <cerrno>

#include <fstream>
#include <sstream>
#include <system_error>

namespace polygons::testing {

namespace fs = std::filesystem;

scratch_dir::scratch_dir(std::string_view name) {
  std::string pattern = (fs::temp_directory_path() / ("polygons-" + std::string(name) + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "cannot make " + pattern);
  }
  path_ = pattern;
}

scratch_dir::~scratch_dir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

fs::path scratch_dir::make_run_directory() const {
  const fs::path run = path_ / "run";
  fs::create_directories(run / "tmp");
  return run;
}

std::string read_file(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::set<std::string> directory_entries(const fs::path& dir) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

std::string example_file(std::string_view name) {
  return read_file(fs::path(POLYGONS_SOURCE_DIR) / "examples" / name);
}

}  // namespace polygons::testing
