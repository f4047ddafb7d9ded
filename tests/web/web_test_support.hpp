#pragma once
// Files for the tests: a scratch directory per test, stand-in programs.

#include <filesystem>
#include <fstream>
#include <string>

#include "support/files.hpp"

namespace polygons::web::testing {

using polygons::testing::scratch_dir;

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
