#pragma once
// The trace channel: the lines a Windows build would send to the debugger
// (OutputDebugString). Every module writes its fixed-format diagnostic lines
// here; the program decides where they go (a Qt logging category in the GUI,
// stderr with --trace in the CLI, a capturing sink in tests). Without a sink
// the lines are dropped.
#include <functional>
#include <string>
#include <string_view>

namespace qrt::diag {

// Receives one piece of trace text exactly as written (line feeds included).
using TraceSink = std::function<void(std::string_view)>;

// Installs the sink for the whole process and returns the previous one.
// An empty function drops every line. Safe to call from any thread.
TraceSink SetTraceSink(TraceSink sink);

// Writes text to the sink as it stands.
void Trace(std::string_view text);

// printf-style formatting into the sink. Text longer than 4095 bytes is cut.
void TraceFormat(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));

// Collects trace text while alive, then puts the previous sink back.
// For tests; not re-entrant across threads.
class CTraceCapture {
 public:
  CTraceCapture();
  ~CTraceCapture();
  CTraceCapture(const CTraceCapture&) = delete;
  CTraceCapture& operator=(const CTraceCapture&) = delete;

  const std::string& Text() const { return m_szText; }
  bool Contains(std::string_view needle) const {
    return m_szText.find(needle) != std::string::npos;
  }
  void Clear() { m_szText.clear(); }

 private:
  std::string m_szText;
  TraceSink m_PreviousSink;
};

}  // namespace qrt::diag
