// The tree of generated engine data: under ZZ (VDF data under Glad), one folder per platform root,
// one per data kind, then the source's own path. Placing a name in that tree, testing whether a
// name lies in it, and mapping a name to another root and kind with a new extension.
#pragma once

#include <cstdint>

#include "core/filesystem/file_extension.h"
#include "core/filesystem/file_name.h"
#include "core/text/engine_string.h"

namespace Orvan {

// Platform roots: 0 "PC", 1 "Xbox", 2 "PS3", 3 "Intermediate", 4 "AllPlatforms", any other "Other".
inline constexpr std::uint32_t kDataFolderRootPC = 0;
inline constexpr std::uint32_t kDataFolderRootXbox = 1;
inline constexpr std::uint32_t kDataFolderRootPS3 = 2;
inline constexpr std::uint32_t kDataFolderRootIntermediate = 3;
inline constexpr std::uint32_t kDataFolderRootAllPlatforms = 4;
inline constexpr std::uint32_t kDataFolderRootOther = 5;

// Data kinds 0 to 13, each a folder ("Texture" ... "Animation"); any other is "Trash". Kind 5
// ("VDF") lives under Glad, every other one under ZZ.
inline constexpr std::uint32_t kDataKindVDF = 5;

// The folder name of a root and of a kind.
const char* GetDataFolderRootName(std::uint32_t root);
const char* GetDataKindFolderName(std::uint32_t kind);

// mounting point:/root/kind[/subfolder]/relative.
TFileName GetDataFolder(const TFileName& relative, std::uint32_t root, std::uint32_t kind,
                        const TOrvString<char>& subfolder);
// Whether the name lies strictly below root/kind (mounting points ignored).
bool IsInDataFolder(const TFileName& name, std::uint32_t root, std::uint32_t kind);
bool IsInZZ(const TFileName& name);
// The name without mounting point, root and kind: its folders from the third on, then its last
// component (ZZ:/a gives a, ZZ:/ the empty name).
TFileName StripDataFolderPrefix(const TFileName& name);
// The source placed under root/kind[/subfolder] with its extension replaced (kept when `extension`
// is none). A source already in ZZ loses its mounting point, root and kind first. The empty source
// gives the folder itself.
TFileName GetDataFileName(const TFileName& source, TFileExtension extension, std::uint32_t root, std::uint32_t kind,
                          const TOrvString<char>& subfolder);
// 1 -> PC, 2 -> Xbox, 4 -> PS3, anything else -> Other.
std::uint32_t GetDataFolderRootOfPlatform(std::int32_t platform);

}  // namespace Orvan
