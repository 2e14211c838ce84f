#include "Trace.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace qrt::diag {
namespace {

std::mutex& SinkMutex() {
  static std::mutex mutex;
  return mutex;
}

TraceSink& CurrentSink() {
  static TraceSink sink;
  return sink;
}

}  // namespace

TraceSink SetTraceSink(TraceSink sink) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  TraceSink previous = std::move(CurrentSink());
  CurrentSink() = std::move(sink);
  return previous;
}

void Trace(std::string_view text) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  if (CurrentSink()) CurrentSink()(text);
}

void TraceFormat(const char* pszFormat, ...) {
  char szBuffer[4096];
  va_list args;
  va_start(args, pszFormat);
  int n = std::vsnprintf(szBuffer, sizeof(szBuffer), pszFormat, args);
  va_end(args);
  if (n < 0) return;
  size_t nLength =
      static_cast<size_t>(n) < sizeof(szBuffer) ? static_cast<size_t>(n) : sizeof(szBuffer) - 1;
  Trace(std::string_view(szBuffer, nLength));
}

CTraceCapture::CTraceCapture() {
  m_PreviousSink = SetTraceSink([this](std::string_view text) { m_szText.append(text); });
}

CTraceCapture::~CTraceCapture() {
  SetTraceSink(std::move(m_PreviousSink));
}

}  // namespace qrt::diag
