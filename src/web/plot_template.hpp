#pragma once
// The plotting template the service sends to every run after the parameter
// lines.

#include <filesystem>
#include <optional>
#include <string>

namespace polygons::web {

// The template, read whole and ended by a newline; empty with `error` when
// unreadable, empty or larger than 64 KiB.
std::optional<std::string> read_template(const std::filesystem::path& path, std::string& error);

}  // namespace polygons::web
