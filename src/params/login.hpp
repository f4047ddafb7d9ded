#pragma once
// The environment lookup, the user-login line and the usage reminder: the two
// steps of the parameter reader that come before it reads anything.

#include <string>
#include <string_view>
#include <vector>

#include "text/io.hpp"

namespace polygons::params {

// Length of the login and argument buffers.
inline constexpr std::size_t kTextBufferLength = 1024;

// Fills `value` (its length is kept) with the environment variable named by
// `name` up to its first blank: left-aligned and blank-padded, cut to the
// buffer's length; all blanks when the variable is unset or empty.
void getenv(std::string_view name, std::string& value);

// Writes the user-login line when USER has a value that is not all blanks.
// Returns the internet-run flag: true when no user login is known.
bool internet(text::LineSink& out);

// Whether the first argument asks for the usage reminder: "?", trailing
// blanks ignored.
bool asks_for_reminder(const std::vector<std::string>& args);

// The two lines of the usage reminder.
void write_reminder_lines(text::LineSink& out);

// When the first argument asks for it, writes the reminder lines and ends
// the run with text::RunEnded.
void reminder(text::LineSink& out, const std::vector<std::string>& args);

}  // namespace polygons::params
