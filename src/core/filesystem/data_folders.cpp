// Data folders: the platform roots and data kinds, and the names placed under them.
#include "core/filesystem/data_folders.h"

#include "core/filesystem/mounting_points.h"
#include "core/filesystem/well_known_names.h"

namespace Orvan {

namespace {

constexpr const char* kKindFolderNames[] = {"Texture", "TextureGroup", "TextureProxy", "Mesh",         "Sound",
                                            "VDF",     "FileID",       "ASEDesc",      "Localisation", "Python",
                                            "KDTree",  "Shader",       "Video",        "Animation"};
constexpr std::uint32_t kKindCount = sizeof(kKindFolderNames) / sizeof(kKindFolderNames[0]);

}  // namespace

const char* GetDataFolderRootName(std::uint32_t root) {
  // The three platform folders are the well-known names' texts.
  const TWellKnownNames* names = GetWellKnownNames();
  switch (root) {
    case kDataFolderRootPC:
      return names->PlatformPC.c_str();
    case kDataFolderRootXbox:
      return names->PlatformXbox.c_str();
    case kDataFolderRootPS3:
      return names->PlatformPS3.c_str();
    case kDataFolderRootIntermediate:
      return "Intermediate";
    case kDataFolderRootAllPlatforms:
      return "AllPlatforms";
    default:
      return "Other";
  }
}

const char* GetDataKindFolderName(std::uint32_t kind) { return kind < kKindCount ? kKindFolderNames[kind] : "Trash"; }

TFileName GetDataFolder(const TFileName& relative, std::uint32_t root, std::uint32_t kind,
                        const TOrvString<char>& subfolder) {
  const TFileName rootFolder(GetDataFolderRootName(root));
  const TFileName kindFolder(GetDataKindFolderName(kind));
  const std::uint16_t mountingPoint = kind == kDataKindVDF ? GetGladMountingPoint() : GetZZMountingPoint();
  TFileName folder(mountingPoint, rootFolder);
  folder.Append(kindFolder);
  if (!subfolder.IsEmpty()) folder.Append(TFileName(subfolder));
  folder.Append(relative);
  return folder;
}

bool IsInDataFolder(const TFileName& name, std::uint32_t root, std::uint32_t kind) {
  return GetDataFolder(TFileName(), root, kind, TOrvString<char>()).IsStrictAncestorOf(name);
}

bool IsInZZ(const TFileName& name) { return name.GetMountingPoint() == GetZZMountingPoint(); }

TFileName StripDataFolderPrefix(const TFileName& name) {
  TFileName stripped;
  const TFileName parent = name.GetParent();
  const std::uint32_t count = parent.GetComponentCount();
  for (std::uint32_t i = 2; i < count; ++i) stripped.Append(TFileName(parent.GetComponent(i)));
  stripped.Append(TFileName::GetLeafName(name));
  return stripped;
}

TFileName GetDataFileName(const TFileName& source, TFileExtension extension, std::uint32_t root, std::uint32_t kind,
                          const TOrvString<char>& subfolder) {
  const TFileName relative = IsInZZ(source) ? StripDataFolderPrefix(source) : source;
  TFileName result = GetDataFolder(TFileName(), root, kind, subfolder);
  if (extension.IsNone() || relative.IsEmpty()) {
    result.Append(relative);
    return result;
  }
  // Built as one engine string, however long the last component is.
  const TOrvString<char> leaf = relative.GetNameWithoutExtension() + "." + extension.GetName();
  result.Append(relative.GetParent());
  result.Append(TFileName(leaf));
  return result;
}

std::uint32_t GetDataFolderRootOfPlatform(std::int32_t platform) {
  switch (platform) {
    case 1:
      return kDataFolderRootPC;
    case 2:
      return kDataFolderRootXbox;
    case 4:
      return kDataFolderRootPS3;
    default:
      return kDataFolderRootOther;
  }
}

}  // namespace Orvan
