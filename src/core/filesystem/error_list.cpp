#include "core/filesystem/error_list.h"

#include <sstream>

namespace Orvan {

namespace {

// The platform's error-list window: nothing to show it on here.
std::uint32_t ShowErrorListWindow(const wchar_t* /*caption*/, const std::wstring& /*text*/) { return 0; }

bool RepeatsParent(const TErrorListNode& node, const TErrorListNode& parent) {
  return node.file == parent.file && node.line == parent.line && node.column == parent.column &&
         node.message == parent.message;
}

}  // namespace

void WriteErrorNode(const TErrorListNode& node, std::wostream& stream, const wchar_t* indent,
                    const TErrorListNode* parent) {
  if (parent == nullptr || !RepeatsParent(node, *parent)) {
    const bool newMessage = parent == nullptr || !(node.message == parent->message);
    stream << indent;
    if (!node.file.IsEmpty()) {
      stream << L"@file:";
      WriteFileNameToWideStream(stream, node.file) << L"@(" << node.line << L':' << node.column << L") ";
    }
    if (newMessage) stream << node.message;
    stream << L'\n';
  }
  const std::wstring childIndent = std::wstring(indent) + L"    ";
  for (const TErrorListNode& child : node.children) WriteErrorNode(child, stream, childIndent.c_str(), &node);
}

std::wstring BuildErrorListReport(const TErrorList& list) {
  std::wostringstream report;
  const std::uint32_t count = list.nodes.GetSize();
  const std::uint32_t written = count < kErrorListReportLimit ? count : kErrorListReportLimit;
  for (std::uint32_t i = 0; i < written; ++i) WriteErrorNode(list.nodes[i], report, L"", nullptr);
  if (count > kErrorListReportLimit) {
    report << L"Too many errors to log them all : " << (count - kErrorListReportLimit) << L" not logged";
  }
  return report.str();
}

std::uint32_t ShowErrorList(const TErrorList& list) {
  return ShowErrorListWindow(L"Erreurs VDF", BuildErrorListReport(list));
}

}  // namespace Orvan
