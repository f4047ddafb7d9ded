#pragma once
// What the command line asks for besides a run: the help text, the version,
// and the refusal of an option the program does not know. A sole argument
// that begins with "-" is taken as an option, never as a working directory.

#include <string>
#include <vector>

#include "text/io.hpp"

namespace polygons::run {

// Answers a sole "--help" or "-h" with the help text and a sole "--version"
// with the version on `out`; true when it did, and the run has nothing more
// to do. Refuses (text::FatalError, kExitBadInput) any other sole argument
// that begins with "-". False for everything else, which is a run.
bool answer_options(const std::vector<std::string>& args, text::LineSink& out);

// When standard input is a terminal and the run is going to read it (not
// for the usage reminder), one line on standard error: what the program
// waits for, and where to read more.
void hint_when_reading_a_terminal(const std::vector<std::string>& args);

}  // namespace polygons::run
