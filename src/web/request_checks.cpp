#include "web/request_checks.hpp"

#include <httplib.h>

#include <algorithm>

#include "web/connection.hpp"

namespace polygons::web {
namespace {

// The methods a run route takes ("GET, POST"), or empty for other paths.
std::string allowed_methods(const std::string& path) {
  if (path == "/run") return "GET, POST";
  if (path == "/api/run") return "GET";
  return "";
}

bool is_allowed(const std::string& method, std::string_view allowed) {
  std::size_t at = 0;
  while (at < allowed.size()) {
    std::size_t end = std::min(allowed.find(',', at), allowed.size());
    if (allowed.substr(at, end - at) == method) return true;
    at = end + 2;
  }
  return false;
}

// The last value of a header that may be given more than once.
std::string last_header_value(const httplib::Request& req, const char* name) {
  std::size_t count = req.get_header_value_count(name);
  return count == 0 ? std::string() : req.get_header_value(name, count - 1);
}

// A page of another site may post the form, but its request names that site
// in Origin ("null" from an opaque origin) or says so in Sec-Fetch-Site.
bool comes_from_own_site(const httplib::Request& req) {
  if (req.get_header_value("Sec-Fetch-Site") == "cross-site") return false;
  return !req.has_header("Origin") ||
         is_same_site_origin(req.get_header_value("Origin"), req.get_header_value("Host"));
}

// Another site's page may link to a run, a top-level navigation the visitor
// chose, but may not embed, fetch, post or prefetch one (a prefetch or
// prerender is a navigation no visitor chose yet): every visitor's browser
// would start a run. Browsers say so in the fetch metadata; requests without
// it (scripts, older browsers) are not concerned.
bool is_cross_site_subresource(const httplib::Request& req) {
  if (req.get_header_value("Sec-Fetch-Site") != "cross-site") return false;
  return req.method != "GET" || req.get_header_value("Sec-Fetch-Mode") != "navigate" ||
         req.get_header_value("Sec-Fetch-Dest") != "document" || req.has_header("Sec-Purpose");
}

}  // namespace

bool refused_up_front(const httplib::Request& req, httplib::Response& res,
                      const std::vector<std::string>& server_names) {
  auto refuse = [&res](int status, const std::string& message) {
    set_common_headers(res);
    res.status = status;
    res.set_header("Connection", "close");
    res.set_content(message + "\n", kTextType);
    return true;
  };
  // Two lengths (or a length and chunks) let the two ends of a connection
  // disagree on where the next request starts.
  if (req.get_header_value_count("Content-Length") > 1 ||
      (req.has_header("Content-Length") && req.has_header("Transfer-Encoding"))) {
    return refuse(400, "400 Bad request: the body length is given more than once");
  }
  if (req.get_header_value_count("Host") > 1) {
    return refuse(400, "400 Bad request: the host is given more than once");
  }
  if (!is_served_name(req.get_header_value("Host"), server_names)) {
    return refuse(421, "421 Misdirected request: this server does not serve that host name");
  }
  // Bodies are a few form fields; an encoded one could unpack to any size.
  if (req.has_header("Content-Encoding")) {
    return refuse(415, "415 Unsupported media type: request bodies may not be encoded");
  }
  if (std::string allowed = allowed_methods(req.path);
      !allowed.empty() && !is_allowed(req.method, allowed)) {
    res.set_header("Allow", allowed);
    return refuse(405, "405 Method not allowed: " + req.path + " takes " + allowed);
  }
  if (!allowed_methods(req.path).empty() && is_cross_site_subresource(req)) {
    return refuse(403, "403 Forbidden: another site may link to a run, not embed or fetch one");
  }
  if (req.method == "POST" && req.path == "/run" && !comes_from_own_site(req)) {
    return refuse(403, "403 Forbidden: runs are started from this site's own form only");
  }
  return false;
}

bool awaits_visitor(const httplib::Request& req) {
  return req.get_header_value("Sec-Fetch-Site") == "cross-site" &&
         req.get_header_value("Sec-Fetch-User") != "?1";
}

bool ends_connection(const httplib::Response& res) {
  return res.status >= 400 && res.get_header_value("Connection") == "close";
}

void set_common_headers(httplib::Response& res) {
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Content-Security-Policy",
                 "default-src 'none'; img-src 'self'; style-src 'unsafe-inline'; "
                 "form-action 'self'; frame-ancestors 'none'");
  // Not "no-referrer": under it browsers send "Origin: null" with the form's
  // own posts, which could not be told from another site's.
  res.set_header("Referrer-Policy", "same-origin");
}

const char* error_reason(int status) {
  switch (status) {
    case 400: return "Bad request";
    case 404: return "Not found";
    case 405: return "Method not allowed";
    case 413: return "Request too large";
    case 414: return "Address too long";
    case 415: return "Unsupported media type";
    case 421: return "Misdirected request";
    case 431: return "Header fields too large";
    default: return "Request not served";
  }
}

int socket_of(const httplib::Request& req) {
  return connection_socket(req.local_addr, req.local_port, req.remote_addr, req.remote_port);
}

run_origin origin_of(const httplib::Request& req, const std::string& trusted_proxy) {
  std::string client = client_address(req.remote_addr, trusted_proxy,
                                      last_header_value(req, "X-Real-IP"),
                                      last_header_value(req, "X-Forwarded-For"));
  std::string network = client_network(client);
  return {std::move(client), socket_of(req), std::move(network)};
}

}  // namespace polygons::web
