#include "web/connection.hpp"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

namespace polygons::web {
namespace {

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// The canonical text of an address, IPv6 cut to its /64 prefix; other text
// (not an address) as it is.
std::string canonical_client(std::string_view text) {
  text = trim(text);
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
  }
  std::string address(text);
  char out[INET6_ADDRSTRLEN] = {};
  in_addr v4{};
  if (::inet_pton(AF_INET, address.c_str(), &v4) == 1) {
    return ::inet_ntop(AF_INET, &v4, out, sizeof out) ? out : address;
  }
  in6_addr v6{};
  if (::inet_pton(AF_INET6, address.c_str(), &v6) != 1) return address;
  if (IN6_IS_ADDR_V4MAPPED(&v6)) {
    std::memcpy(&v4, v6.s6_addr + 12, sizeof v4);
    return ::inet_ntop(AF_INET, &v4, out, sizeof out) ? out : address;
  }
  std::fill(v6.s6_addr + 8, v6.s6_addr + 16, 0);
  return ::inet_ntop(AF_INET6, &v6, out, sizeof out) ? std::string(out) + "/64" : address;
}

std::string_view last_list_entry(std::string_view list) {
  auto comma = list.rfind(',');
  return trim(comma == std::string_view::npos ? list : list.substr(comma + 1));
}

// The numeric address and port of a socket's end, as the HTTP library writes
// them; false for anything but an IP socket.
bool endpoint_of(const sockaddr_storage& address, socklen_t length, std::string& host,
                 int& port) {
  if (address.ss_family != AF_INET && address.ss_family != AF_INET6) return false;
  char name[NI_MAXHOST];
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, name, sizeof name,
                    nullptr, 0, NI_NUMERICHOST) != 0) {
    return false;
  }
  host = name;
  port = ntohs(address.ss_family == AF_INET
                   ? reinterpret_cast<const sockaddr_in&>(address).sin_port
                   : reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  return true;
}

bool socket_has_ends(int fd, const std::string& local_addr, int local_port,
                     const std::string& remote_addr, int remote_port) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  std::string host;
  int port = -1;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      !endpoint_of(address, length, host, port) || port != local_port || host != local_addr) {
    return false;
  }
  length = sizeof address;
  return ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
         endpoint_of(address, length, host, port) && port == remote_port &&
         host == remote_addr;
}

// The first open socket of this process that `wanted` accepts, or -1.
// Found among the open files of the process: the library hands its sockets
// neither to request handlers nor to its caller.
template <typename Predicate>
int find_own_socket(Predicate wanted) {
  DIR* fds = ::opendir("/proc/self/fd");
  if (!fds) return -1;
  int found = -1;
  while (const dirent* entry = ::readdir(fds)) {
    int fd = -1;
    const char* name = entry->d_name;
    auto [end, ec] = std::from_chars(name, name + std::strlen(name), fd);
    if (ec != std::errc() || *end != '\0' || fd == ::dirfd(fds)) continue;
    if (wanted(fd)) {
      found = fd;
      break;
    }
  }
  ::closedir(fds);
  return found;
}

}  // namespace

std::string client_address(std::string_view peer, std::string_view trusted_proxy,
                           std::string_view real_ip, std::string_view forwarded_for) {
  std::string from_peer = canonical_client(peer);
  if (trusted_proxy.empty() || from_peer != canonical_client(trusted_proxy)) return from_peer;
  if (!trim(real_ip).empty()) return canonical_client(real_ip);
  if (!last_list_entry(forwarded_for).empty()) {
    return canonical_client(last_list_entry(forwarded_for));
  }
  return from_peer;
}

std::string client_network(std::string_view client) {
  std::string address(client);
  char out[INET6_ADDRSTRLEN] = {};
  in_addr v4{};
  if (::inet_pton(AF_INET, address.c_str(), &v4) == 1) {
    reinterpret_cast<unsigned char*>(&v4)[3] = 0;
    return ::inet_ntop(AF_INET, &v4, out, sizeof out) ? std::string(out) + "/24" : address;
  }
  const std::size_t prefix = address.rfind("/64");
  if (prefix == std::string::npos || prefix + 3 != address.size()) return address;
  in6_addr v6{};
  if (::inet_pton(AF_INET6, address.substr(0, prefix).c_str(), &v6) != 1) return address;
  std::fill(v6.s6_addr + 6, v6.s6_addr + 16, 0);
  return ::inet_ntop(AF_INET6, &v6, out, sizeof out) ? std::string(out) + "/48" : address;
}

bool is_ip_address(std::string_view text) {
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
  }
  std::string address(text);
  in6_addr binary{};
  return ::inet_pton(AF_INET, address.c_str(), &binary) == 1 ||
         ::inet_pton(AF_INET6, address.c_str(), &binary) == 1;
}

std::string host_name(std::string_view host_and_port) {
  host_and_port = trim(host_and_port);
  if (!host_and_port.empty() && host_and_port.front() == '[') {
    return lower(host_and_port.substr(0, host_and_port.find(']') + 1));
  }
  return lower(host_and_port.substr(0, host_and_port.find(':')));
}

bool is_served_name(std::string_view host_header, const std::vector<std::string>& names) {
  std::string name = host_name(host_header);
  if (name.empty()) return false;
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& served) { return host_name(served) == name; });
}

bool is_same_site_origin(std::string_view origin, std::string_view host_header) {
  origin = trim(origin);
  auto scheme_end = origin.find("://");
  if (scheme_end == std::string_view::npos) return false;
  std::string_view authority = origin.substr(scheme_end + 3);
  if (authority.find_first_of("/@?#") != std::string_view::npos) return false;
  std::string name = host_name(authority);
  return !name.empty() && name == host_name(host_header);
}

int connection_socket(const std::string& local_addr, int local_port,
                      const std::string& remote_addr, int remote_port) {
  return find_own_socket([&](int fd) {
    return socket_has_ends(fd, local_addr, local_port, remote_addr, remote_port);
  });
}

int listening_socket(int port) {
  return find_own_socket([port](int fd) {
    int listening = 0;
    socklen_t size = sizeof listening;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    std::string host;
    int bound_port = -1;
    return ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening &&
           ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
           endpoint_of(address, length, host, bound_port) && bound_port == port;
  });
}

void end_connection(int socket) {
  if (socket < 0) return;
  ::shutdown(socket, SHUT_WR);
  // The descriptor stays open for the library, which closes it, but now names
  // /dev/null: its next read fails, so it drops the connection at once.
  int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null_fd < 0) {
    ::shutdown(socket, SHUT_RDWR);
    return;
  }
  ::dup3(null_fd, socket, O_CLOEXEC);
  ::close(null_fd);
}

}  // namespace polygons::web
