// The error-list report: a tree of data errors, each at a position in a file, printed as indented
// text under the caption "Erreurs VDF". A child that repeats its parent prints nothing itself; at
// most 150 top-level errors are written.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "core/containers/engine_vector.h"
#include "core/filesystem/file_name.h"
#include "core/text/engine_string.h"

namespace Orvan {

struct TErrorListNode {
  TOrvString<wchar_t> message;
  TFileName file;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  TVector<TErrorListNode> children;
};

struct TErrorList {
  std::uint32_t reserved = 0;  // not read by the report
  TVector<TErrorListNode> nodes;
};

// Top-level errors beyond this count are only counted.
inline constexpr std::uint32_t kErrorListReportLimit = 150;

// Writes the node at `indent` (its text: the message, or the empty text when a child's message
// repeats its parent's), as "@file:<file>@(<line>:<column>) <text>" when it has a file, then its
// children four spaces further in.
void WriteErrorNode(const TErrorListNode& node, std::wostream& stream, const wchar_t* indent,
                    const TErrorListNode* parent);

// The report text of ShowErrorList.
std::wstring BuildErrorListReport(const TErrorList& list);

// Builds the report and hands it with the caption "Erreurs VDF" to the error-list window, which
// on this platform shows nothing and answers 0; returns that answer.
std::uint32_t ShowErrorList(const TErrorList& list);

}  // namespace Orvan
