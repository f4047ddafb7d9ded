#pragma once
// The command line of polygons-web.

#include <string>
#include <vector>

#include "web/service_options.hpp"

namespace polygons::web {

// Reads "--name value" (or "--name=value") options over the defaults already
// in `options`. Sets `help` for --help. False, with `error`, for an unknown
// option, a missing value or a value out of range.
bool parse_options(const std::vector<std::string>& args, service_options& options, bool& help,
                   std::string& error);

std::string usage_text();

}  // namespace polygons::web
