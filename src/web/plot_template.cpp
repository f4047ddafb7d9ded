#include "web/plot_template.hpp"

#include <fstream>
#include <sstream>

namespace polygons::web {
namespace {

constexpr std::size_t kMaxTemplateBytes = 64 * 1024;

}  // namespace

std::optional<std::string> read_template(const std::filesystem::path& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read the plotting template " + path.string();
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string body = text.str();
  if (body.empty() || body.size() > kMaxTemplateBytes) {
    error = "the plotting template " + path.string() + " is empty or too large";
    return std::nullopt;
  }
  if (body.back() != '\n') body.push_back('\n');
  return body;
}

}  // namespace polygons::web
