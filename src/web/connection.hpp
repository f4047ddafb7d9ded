#pragma once
// What the service learns about the connection a request came on: the client
// it counts for, the host names it names, and the socket itself.

#include <string>
#include <string_view>
#include <vector>

namespace polygons::web {

// The client a request counts for. `peer` is the address of the connection;
// only when it is `trusted_proxy` (a front server that overwrites both headers)
// is the client taken from `real_ip`, or else from the last entry of
// `forwarded_for`. IPv6 clients count by their /64 prefix (what one
// subscriber gets), IPv4-mapped addresses as IPv4.
std::string client_address(std::string_view peer, std::string_view trusted_proxy,
                           std::string_view real_ip, std::string_view forwarded_for);

// The network a client (as client_address gives it) shares its runs with:
// an IPv4 address's /24 ("192.0.2.0/24"), an IPv6 /64's /48
// ("2001:db8:1::/48"); any other text is a network of its own.
std::string client_network(std::string_view client);

// True for an IPv4 or IPv6 address in numeric form ("::1" or "[::1]").
bool is_ip_address(std::string_view text);

// The host name of a Host header or of an origin's host and port, in lower
// case and without the port: "Example.org:8080" -> "example.org",
// "[::1]:80" -> "[::1]".
std::string host_name(std::string_view host_and_port);

// True when `host_header` names one of `names` (compared as host_name does).
bool is_served_name(std::string_view host_header, const std::vector<std::string>& names);

// True when the Origin header `origin` ("http://example.org:8080") names the
// same host as `host_header`; false for "null" and for anything else.
bool is_same_site_origin(std::string_view origin, std::string_view host_header);

// The socket of this process connected from local_addr:local_port to
// remote_addr:remote_port (addresses as the HTTP library writes them), or -1.
// Found among the open files of the process: the library does not hand it to
// request handlers.
int connection_socket(const std::string& local_addr, int local_port,
                      const std::string& remote_addr, int remote_port);

// The listening socket of this process on `port`, or -1; found as above.
int listening_socket(int port);

// Ends the connection on `socket` after the answer already written to it: no
// more data is sent, and what the client still sends is never read as a
// further request (the library sees the end of the stream at once).
void end_connection(int socket);

}  // namespace polygons::web
