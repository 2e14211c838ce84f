#pragma once
// The operating-system side of the CLI's standard streams.

namespace qrt::cli::platform {

// Puts stdin and stdout in binary mode where the OS has a text mode, so a
// JSON document or hex dump is the same bytes on every OS (no CR LF).
void PrepareStandardStreams();

// True when standard error is a terminal (the progress bar is drawn there).
bool StandardErrorIsTerminal();

}  // namespace qrt::cli::platform
