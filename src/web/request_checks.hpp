#pragma once
// What the service checks of every request before a route sees it, the
// headers every answer carries, and who a request counts for.

#include <string>
#include <vector>

#include "web/run_executor.hpp"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace polygons::web {

// Refuses, before its body is read, a request no route may take: two body
// lengths or hosts (400), a host name not in `server_names` (421), an encoded
// body (415), a method a run route does not take (405 with Allow), a run
// requested by another site other than by a link the visitor followed, or a
// form post from another site (403). True, with the answer set and the
// connection marked to close, when it did.
bool refused_up_front(const httplib::Request& req, httplib::Response& res,
                      const std::vector<std::string>& server_names);

// True for a run that another site's page navigated to without the visitor
// activating anything (a script's navigation rather than a click): the run
// waits for the visitor to press Run.
bool awaits_visitor(const httplib::Request& req);

// True for an answer after which the connection is dropped: what the client
// sent after the request line and headers may be an unread body, never a
// next request.
bool ends_connection(const httplib::Response& res);

// The headers every answer carries: no sniffing, a strict content policy.
void set_common_headers(httplib::Response& res);

// The type of the plain-text answers: refusals, errors and API reports.
inline constexpr char kTextType[] = "text/plain; charset=utf-8";
// The types of the page and of the figures' answers.
inline constexpr char kHtmlType[] = "text/html; charset=utf-8";
inline constexpr char kJsonType[] = "application/json";
inline constexpr char kCsvType[] = "text/csv; charset=utf-8";

// "Bad request" and the like, for a status the library answers by itself.
const char* error_reason(int status);

// The socket a request came on; -1 when it cannot be found.
int socket_of(const httplib::Request& req);

// The client a request counts for (the peer, or for requests from
// `trusted_proxy` the address it names), its network and its connection.
run_origin origin_of(const httplib::Request& req, const std::string& trusted_proxy);

}  // namespace polygons::web
