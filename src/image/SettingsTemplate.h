#pragma once
// Settings templates: an image's settings as a JSON object keyed by the set
// names (values as set takes them: numbers as numbers, the rest as text) and
// its banks as hex under "banks". Exported from one image and applied to
// another they carry every setting and bank; applied to the image they came
// from they change nothing.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "ImageSession.h"

namespace qrt::image {

// Templates are a few kilobytes; a file larger than this is not one.
inline constexpr size_t kMaxTemplateBytes = 1 << 20;

// The banks of a session in their image form, as upper-case hex: what a
// template carries and what diff compares.
struct CBankTexts {
  std::vector<std::string> vI2C;  // 32 bytes each
  std::string szAgcIr;            // 32 bytes; empty when the bank is absent
  std::vector<std::string> vEq;   // 16 bytes each
};
CBankTexts BankTextsOf(CImageSession& session);

// The template of the session's working record and banks: JSON text with a
// two-space indent, no final line break.
std::string ExportTemplate(CImageSession& session);

// Applies a template's text to the session: the settings to the working
// record, the banks (when the template has "banks") to the bank managers.
// Returns an empty text on success; otherwise the reason in one line (names
// and values quoted as QuoteText does) and the session is unchanged. Refused:
// text that is not a JSON object, a key given twice, an unknown name, a value
// of the wrong type or one set refuses, a malformed bank.
std::string ApplyTemplate(CImageSession& session, std::string_view szJson);

// Reads a template file into szText. Returns an empty text, or the reason
// (szText then unchanged): not a readable regular file, or larger than
// kMaxTemplateBytes.
std::string ReadTemplateFile(const std::string& szPath, std::string& szText);

}  // namespace qrt::image
