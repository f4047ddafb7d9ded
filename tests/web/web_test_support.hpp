#pragma once
// A scratch directory per test, removed afterwards.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace polygons::web::testing {

class scratch_dir {
 public:
  scratch_dir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "polygons-web-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~scratch_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline void write_file(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A small executable shell script standing in for the program.
inline std::filesystem::path write_script(const std::filesystem::path& path,
                                          const std::string& body) {
  write_file(path, "#!/bin/sh\n" + body);
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return path;
}

}  // namespace polygons::web::testing
