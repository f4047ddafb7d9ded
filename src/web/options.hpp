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

// The usage text, with the defaults of service_options.
std::string usage_text();

// The values a front server (nginx, deploy/nginx.conf.in) must agree with for
// a service of `options`: one "NAME value" line each, NAME being the field
// the configuration template has as @NAME@.
std::string front_server_limits(const service_options& options);

}  // namespace polygons::web
