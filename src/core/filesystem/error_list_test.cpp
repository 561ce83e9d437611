#include "core/filesystem/error_list.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace Orvan {
namespace {

TErrorListNode Node(const wchar_t* message, std::uint32_t line, std::uint32_t column, const char* file = nullptr) {
  TErrorListNode node;
  node.message = message;
  node.file = TFileName(file);
  node.line = line;
  node.column = column;
  return node;
}

std::wstring Write(const TErrorListNode& node) {
  std::wostringstream stream;
  WriteErrorNode(node, stream, L"", nullptr);
  return stream.str();
}

TEST(ErrorList, ChildrenRepeatingTheirParentPrintNothingThemselves) {
  TErrorListNode root = Node(L"bad unit", 3, 4);
  TErrorListNode repeat = Node(L"bad unit", 3, 4);
  repeat.children.PushBack(Node(L"grandchild", 1, 1));
  root.children.PushBack(std::move(repeat));
  root.children.PushBack(Node(L"other message", 3, 4));  // same position, own message
  root.children.PushBack(Node(L"bad unit", 9, 4));       // same message, other position: empty text
  EXPECT_EQ(Write(root), L"bad unit\n"
                         L"        grandchild\n"
                         L"    other message\n"
                         L"    \n");
}

TEST(ErrorList, NodesWithAFileShowTheirPosition) {
  TErrorList list;
  TErrorListNode unit = Node(L"bad unit", 3, 4, "DataDir:convoys/tank.ini");
  TErrorListNode repeat = Node(L"bad unit", 3, 4, "DataDir:convoys/tank.ini");
  repeat.children.PushBack(Node(L"deeper", 7, 1, "DataDir:convoys/tank.ini"));
  unit.children.PushBack(std::move(repeat));
  unit.children.PushBack(Node(L"bad unit", 3, 4, "DataDir:convoys/other.ini"));  // another file: empty text
  unit.children.PushBack(Node(L"no file", 3, 4));
  list.nodes.PushBack(std::move(unit));
  list.nodes.PushBack(Node(L"plain", 0, 0, "relative/path"));
  EXPECT_EQ(BuildErrorListReport(list), L"@file:DataDir:/convoys/tank.ini@(3:4) bad unit\n"
                                        L"        @file:DataDir:/convoys/tank.ini@(7:1) deeper\n"
                                        L"    @file:DataDir:/convoys/other.ini@(3:4) \n"
                                        L"    no file\n"
                                        L"@file:relative/path@(0:0) plain\n");
}

TEST(ErrorList, ReportWritesAtMost150Errors) {
  const struct {
    std::uint32_t count;
    std::uint32_t lines;
    const wchar_t* tail;
  } cases[] = {{0, 0, L""}, {150, 150, L"e\n"}, {151, 150, L"e\nToo many errors to log them all : 1 not logged"},
               {400, 150, L"e\nToo many errors to log them all : 250 not logged"}};
  for (const auto& c : cases) {
    TErrorList list;
    for (std::uint32_t i = 0; i < c.count; ++i) list.nodes.PushBack(Node(L"e", i, 0));
    const std::wstring report = BuildErrorListReport(list);
    std::uint32_t lines = 0;
    for (wchar_t unit : report) lines += unit == L'\n' ? 1 : 0;
    EXPECT_EQ(lines, c.lines) << c.count;
    const std::wstring tail(c.tail);
    EXPECT_TRUE(report.size() >= tail.size() && report.compare(report.size() - tail.size(), tail.size(), tail) == 0)
        << c.count;
    EXPECT_EQ(ShowErrorList(list), 0u);
  }
}

}  // namespace
}  // namespace Orvan
