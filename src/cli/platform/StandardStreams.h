#pragma once
// The operating-system side of the CLI's standard streams.

namespace qrt::cli::platform {

// Puts stdin and stdout in binary mode where the OS has a text mode, so a
// JSON document or hex dump is the same bytes on every OS (no CR LF).
void PrepareStandardStreams();

// True when standard error is a terminal (the progress bar is drawn there).
bool StandardErrorIsTerminal();

// True when standard output is a terminal that shows SGR colours (not a
// "dumb" one; on Windows a console that takes them, switched on here).
bool StandardOutputTakesColour();

}  // namespace qrt::cli::platform
