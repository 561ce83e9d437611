// The texts of file names: the text form into buffers and strings, the order of two names, and a
// name as a formatting argument.
#include <cstring>

#include "core/filesystem/file_name.h"
#include "core/text/text_encoding.h"
#include "core/text/text_hash.h"
#include "core/tokens/token_tables.h"

namespace Orvan {

namespace {

TFileNameRegistry& Registry() noexcept { return *TFileNameRegistry::Get(); }

const char* MountingPointText(std::uint16_t mountingPoint) noexcept {
  return TMountingPointToken::FromId(mountingPoint).c_str();
}

// Copies what fits of the text before the buffer's last byte; returns the characters copied.
std::uint32_t CopyCut(char* buffer, std::uint32_t room, const char* text, std::uint32_t length) noexcept {
  const std::uint32_t count = length < room ? length : room;
  if (count != 0) std::memcpy(buffer, text, count);
  return count;
}

}  // namespace

std::uint32_t TFileName::GetText(char* buffer, std::uint32_t size, char separator) const {
  if (size == 0) return 0;
  std::uint32_t length = 0;
  if (mountingPoint_ != 0) {
    const char* name = MountingPointText(mountingPoint_);
    const char prefixEnd[2] = {':', separator};
    length = CopyCut(buffer, size - 1, name, static_cast<std::uint32_t>(std::strlen(name)));
    length += CopyCut(buffer + length, size - 1 - length, prefixEnd, 2);
  }
  return length + GetPathText(buffer + length, size - length, separator);
}

std::uint32_t TFileName::GetPathText(char* buffer, std::uint32_t size, char separator) const {
  if (size == 0) return 0;
  if (node_ == nullptr) {
    buffer[0] = '\0';
    return 0;
  }
  TComponentList components;
  GetComponents(components);
  return Registry().JoinComponentsIntoBuffer(components.begin(), components.end(), separator, buffer, size);
}

TOrvString<char> TFileName::JoinComponents(char separator) const {
  if (node_ == nullptr) return TOrvString<char>();
  TComponentList components;
  GetComponents(components);
  return Registry().JoinComponentRange(components.begin(), components.end(), separator);
}

TOrvString<char> TFileName::ToString(char separator) const {
  if (mountingPoint_ == 0) return JoinComponents(separator);
  const char prefixEnd[3] = {':', separator, '\0'};
  return TOrvString<char>(MountingPointText(mountingPoint_)) + prefixEnd + JoinComponents(separator);
}

TOrvString<wchar_t> TFileName::ToWideString() const { return Utf8ToWide(ToString()); }

bool operator<(const TFileName& a, const TFileName& b) {
  if (a.node_ == b.node_) return false;
  TComponentList aComponents;
  TComponentList bComponents;
  a.GetComponents(aComponents);
  b.GetComponents(bComponents);
  const std::uint32_t aSize = aComponents.GetSize();
  const std::uint32_t bSize = bComponents.GetSize();
  std::uint32_t i = 0;
  while (i < aSize && i < bSize && aComponents[i] == bComponents[i]) ++i;
  if (i == aSize) return i < bSize;
  if (i == bSize) return false;
  TFileNameRegistry& registry = Registry();
  TMutexLocker lock(registry.GetMutex());
  const TOrvSubString<char> aName = registry.GetComponentView(aComponents[i]);
  const TOrvSubString<char> bName = registry.GetComponentView(bComponents[i]);
  return StringLessNoCase(aName.GetData(), aName.GetDataEnd(), bName.GetData(), bName.GetDataEnd());
}

bool TFileName::Compare(const TFileName& a, const TFileName& b) {
  if (a.mountingPoint_ != b.mountingPoint_) {
    return TMountingPointToken::FromId(a.mountingPoint_).Compare(TMountingPointToken::FromId(b.mountingPoint_));
  }
  return a < b;
}

std::wostream& WriteFileNameToWideStream(std::wostream& stream, const TFileName& name) {
  return stream << Utf8ToWide(name.ToString());
}

std::ostream& TStringStreamableImpl<const TFileName, void>::StreamTo(std::ostream& stream) const {
  char text[kNarrowTextBytes];
  const std::uint32_t length = name_->GetText(text, kNarrowTextBytes);
  return stream.write(text, length);
}

std::wostream& TStringStreamableImpl<const TFileName, void>::StreamTo(std::wostream& stream) const {
  return WriteFileNameToWideStream(stream, *name_);
}

}  // namespace Orvan
