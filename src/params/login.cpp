#include "params/login.hpp"

#include <cstdlib>

#include "text/fixed_text.hpp"
#include "text/line.hpp"

namespace polygons::params {

void getenv(std::string_view name, std::string& value) {
  std::string key(name.substr(0, name.find(' ')));
  // A name holding a NUL could only ever match a shorter variable.
  const char* found = key.find('\0') == std::string::npos ? std::getenv(key.c_str()) : nullptr;
  value = text::fixed(found != nullptr ? std::string_view(found) : std::string_view(), value.size());
}

bool internet(text::LineSink& out) {
  std::string usrlogin(kTextBufferLength, ' ');
  getenv("USER", usrlogin);
  std::string_view login = text::trimmed(usrlogin);
  if (login.empty()) return true;
  text::put(out, text::Line().lit(" User login,").col(20).s(login).col(42).lit("|"));
  return false;
}

bool asks_for_reminder(const std::vector<std::string>& args) {
  return !args.empty() && text::padded_equal(text::fixed(args.front(), kTextBufferLength), "?");
}

void write_reminder_lines(text::LineSink& out) {
  text::put(out, text::Line().blanks(1).lit("***").blanks(1).lit("Tying 2 rods: string length distribution"));
  text::put(out, text::Line().blanks(5).lit("Data: ... / ... / .lg(N), iseed, klass / ishow").blanks(1).lit("***"));
}

void reminder(text::LineSink& out, const std::vector<std::string>& args) {
  if (!asks_for_reminder(args)) return;
  write_reminder_lines(out);
  throw text::RunEnded{};
}

}  // namespace polygons::params
