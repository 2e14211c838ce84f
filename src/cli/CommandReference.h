#pragma once
// Texts written from the command tree itself, so that they list exactly the
// commands and options the program has: the full help (`--help-all`, which
// the build turns into the man page with help2man) and the bash completion
// script (`--bash-completion`, hidden, run by the build).
//
// Completion of values: an option checked against a set completes its
// choices ("TEXT:{default,fast}"); otherwise a value completes as an EEPROM
// type when its description names one ("24C0...") or says "EEPROM type", as
// a file name when the description has the word "file"; other values are
// left to the user. A positional argument whose description has the word
// "file" completes file names.
#include <iosfwd>

namespace CLI {
class App;
}

namespace qrt::cli {

// The program's help followed by one block per command (recursively):
// "qrt4250-cli COMMAND [OPTIONS] ARGS:", its description, its arguments and
// options. Never fails.
void WriteFullHelp(const CLI::App& app, std::ostream& out);

// The bash completion script for the tree under app. Never fails.
void WriteBashCompletion(const CLI::App& app, std::ostream& out);

}  // namespace qrt::cli
