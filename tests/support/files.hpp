#pragma once
// Files of the tests that drive the built program: a scratch directory per
// test, removed afterwards, and whole files read back.

#include <filesystem>
#include <set>
#include <string>
#include <string_view>

namespace polygons::testing {

class scratch_dir {
 public:
  // A new directory "polygons-<name>-XXXXXX" in the system's temporary directory.
  explicit scratch_dir(std::string_view name = "test");
  ~scratch_dir();
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Makes "run" inside, with its ./tmp where the graph job puts its files,
  // for the program's working directory, and returns it.
  std::filesystem::path make_run_directory() const;

 private:
  std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& path);

// The names of the entries of `dir`.
std::set<std::string> directory_entries(const std::filesystem::path& dir);

// The shipped plotting template or parameter example of that name.
std::string example_file(std::string_view name);

}  // namespace polygons::testing
