// A model's file name split into the parts its derived files are named from: a level-of-detail
// suffix ("lod" in any letter case, then one character), a variant after the first '$' or '`',
// and the base name. The converted model of Units/Tank$Desert.ase is Units/Tanklod0.Ase2VdfBin.
#pragma once

#include <cstdint>

#include "core/filesystem/file_name.h"
#include "core/text/engine_string.h"

namespace Orvan {

// Highest level WithLodLevel writes: one decimal digit.
inline constexpr std::uint8_t kMaxLodLevel = 9;

// The last component ends in "lod" and one more character (letter case ignored); false for the
// empty name.
bool HasLodSuffix(const TFileName& name);
// The name without those four characters; a copy without a suffix.
TFileName StripLodSuffix(const TFileName& name);
// The name with its lod suffix set to the level, "lod" added first when it has none. A level above
// kMaxLodLevel has no digit: it is reported as an engine assertion and a copy of the name comes back.
TFileName WithLodLevel(const TFileName& name, std::uint8_t level);
// The text form holds a '`' or a '$'.
bool HasVariantMarker(const TFileName& name);

class TDecomposedFileName {
 public:
  // Empty names, no flags.
  TDecomposedFileName() = default;
  // Decomposes the name without its extension.
  explicit TDecomposedFileName(const TFileName& name);

  // Decomposes again, unless the name is the current lod-0 name.
  void SetName(const TFileName& name);

  bool HasVariant() const { return hasVariant_; }
  bool IsDollarMarker() const { return markerIsDollar_; }
  bool IsBackQuoteMarker() const { return markerIsBackQuote_; }
  bool IsDecomposed() const { return decomposed_; }
  // The text after the marker; empty without one.
  const TOrvString<char>& GetVariant() const { return variant_; }
  // The base name with "lod0" added to its last component.
  const TFileName& GetBaseLod0Name() const { return baseLod0Name_; }
  // The lod-0 name without its lod suffix.
  const TFileName& GetNameWithoutLod() const { return nameWithoutLod_; }
  // The name without lod up to its first marker.
  const TFileName& GetBaseName() const { return baseName_; }
  // The source without extension, at lod level 0.
  const TFileName& GetLod0Name() const { return lod0Name_; }

 private:
  void Decompose();

  bool hasVariant_ = false;
  bool markerIsDollar_ = false;
  bool markerIsBackQuote_ = false;
  bool decomposed_ = false;
  TOrvString<char> variant_;
  TFileName baseLod0Name_;
  TFileName nameWithoutLod_;
  TFileName baseName_;
  TFileName lod0Name_;
};

TFileName GetBaseName(const TFileName& name);
TFileName GetLod0BaseName(const TFileName& name);
TFileName GetLod0Name(const TFileName& name);
// The converted model's file: the base lod-0 name with the extension "Ase2VdfBin".
TFileName GetAse2VdfBinFileName(const TFileName& name);
TFileName GetAse2VdfBinFileName(const TDecomposedFileName& decomposed);

}  // namespace Orvan
