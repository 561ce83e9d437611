// Decomposition of model file names: lod suffixes, variant markers, base names.
#include "core/filesystem/decomposed_file_name.h"

#include "core/diagnostics/assertion.h"
#include "core/filesystem/virtual_file_system.h"
#include "core/filesystem/well_known_names.h"

namespace Orvan {

namespace {

constexpr std::uint32_t kLodSuffixLength = 4;  // "lod" and the level

bool IsLetter(char c, char lower) { return c == lower || c == lower - 'a' + 'A'; }

bool IsVariantMarker(char c) { return c == '$' || c == '`'; }

}  // namespace

bool HasLodSuffix(const TFileName& name) {
  if (name.IsEmpty()) return false;
  const TOrvString<char> last = name.GetComponent(name.GetComponentCount() - 1);
  const std::uint32_t length = last.GetLength();
  if (length < kLodSuffixLength) return false;
  const char* suffix = last.GetData() + length - kLodSuffixLength;
  return IsLetter(suffix[0], 'l') && IsLetter(suffix[1], 'o') && IsLetter(suffix[2], 'd');
}

TFileName StripLodSuffix(const TFileName& name) {
  if (!HasLodSuffix(name)) return name;
  return TFileName(name.ToString().DropRight(kLodSuffixLength));
}

TFileName WithLodLevel(const TFileName& name, std::uint8_t level) {
  if (level > kMaxLodLevel) {
    // '0' + 10 would be ':', which parses as a mounting point.
    ReportAssertionFailure(__FILE__, __LINE__, "level <= kMaxLodLevel", "a lod level has one digit");
    return name;
  }
  const TFileName withSuffix = HasLodSuffix(name) ? name : TFileName::AppendText(name, TOrvString<char>("lodX"));
  const TOrvString<char> text = withSuffix.ToString();
  return TFileName(text.DropRight(1) + TOrvString<char>(static_cast<char>('0' + level)));
}

bool HasVariantMarker(const TFileName& name) {
  const TOrvString<char> text = name.ToString();
  return text.Find('`') != -1 || text.Find('$') != -1;
}

TDecomposedFileName::TDecomposedFileName(const TFileName& name) {
  if (name.HasExtension()) {
    SetName(TFileName(name.GetParent(), TFileName(name.GetNameWithoutExtension())));
  } else {
    SetName(name);
  }
}

void TDecomposedFileName::SetName(const TFileName& name) {
  if (name == lod0Name_) return;
  lod0Name_ = WithLodLevel(name, 0);
  decomposed_ = false;
  Decompose();
}

void TDecomposedFileName::Decompose() {
  if (decomposed_) return;
  nameWithoutLod_ = StripLodSuffix(lod0Name_);
  const TOrvString<char> text = nameWithoutLod_.ToString();
  const std::uint32_t length = text.GetLength();
  std::uint32_t marker = 0;
  while (marker < length && !IsVariantMarker(text.GetData()[marker])) ++marker;
  if (marker < length) {
    const char found = text.GetData()[marker];
    variant_ = text.SubStringFrom(marker + 1);
    hasVariant_ = true;
    markerIsDollar_ = found == '$';
    markerIsBackQuote_ = found == '`';
    baseName_ = TFileName(text.Left(static_cast<std::int32_t>(marker)));
  } else {
    variant_ = TOrvString<char>();
    hasVariant_ = false;
    markerIsDollar_ = false;
    markerIsBackQuote_ = false;
    baseName_ = TFileName(text);
  }
  baseLod0Name_ = TFileName::AppendText(baseName_, TOrvString<char>("lod0"));
  decomposed_ = true;
}

TFileName GetBaseName(const TFileName& name) { return TDecomposedFileName(name).GetBaseName(); }

TFileName GetLod0BaseName(const TFileName& name) { return TDecomposedFileName(name).GetBaseLod0Name(); }

TFileName GetLod0Name(const TFileName& name) { return TDecomposedFileName(name).GetLod0Name(); }

TFileName GetAse2VdfBinFileName(const TFileName& name) { return GetAse2VdfBinFileName(TDecomposedFileName(name)); }

TFileName GetAse2VdfBinFileName(const TDecomposedFileName& decomposed) {
  return TFileName::AddExtension(decomposed.GetBaseLod0Name(), GetWellKnownNames()->Ase2VdfBinExtension);
}

bool TVirtualFileSystem::Ase2VdfBinFileExists(const TFileName& source) {
  return StaticExists(GetAse2VdfBinFileName(source));
}

}  // namespace Orvan
