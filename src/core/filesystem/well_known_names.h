// The well-known names: one process-wide object, built by the engine core start-up right after the
// token tables and the file-name and file-extension registries, that holds names other parts read
// instead of repeating the texts (platform folders, extension ids, mounting points, two file
// names), and that seeds token tables 5, 6, 7, 8, 9 and 18 and the file-name tree's component
// names with the game's content names in one fixed order. Those tables and the tree hold nothing
// else yet at that point, so the seeded texts get the same ids in every run.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "core/containers/engine_vector.h"
#include "core/filesystem/file_extension.h"
#include "core/filesystem/file_name.h"
#include "core/text/engine_string.h"
#include "core/tokens/token_tables.h"

namespace Orvan {

// The seeded lists' lengths.
inline constexpr std::size_t kWellKnownMaterialParameterNameCount = 15;
inline constexpr std::size_t kWellKnownModelPartNameCount = 1070;
inline constexpr std::size_t kWellKnownComponentNameCount = 618;

// The rows of the lists that are game content, compiled in from well_known_names.txt: the ten
// material parameter names between the first three and the last two, the 1,070 model part names,
// and the 616 path-component names that come before "VirtualData" and "ZZ".
namespace WellKnownNameRows {
std::span<const std::string_view> GetMiddleMaterialParameterNames();
std::span<const std::string_view> GetModelPartNames();
std::span<const std::string_view> GetComponentNames();
}  // namespace WellKnownNameRows

// Built once and then only read, without a lock. Members are constructed in declaration order, the
// order that fixes the ids of their texts, and destroyed in the reverse order.
class TWellKnownNames {
 public:
  // Builds the object and publishes it; nothing when it exists. On std::bad_alloc the members made
  // so far are destroyed and nothing is published (the texts interned so far stay interned).
  static void Create();
  // Destroys the object and clears the pointer; nothing when there is none.
  static void Destroy() noexcept;

  TWellKnownNames(const TWellKnownNames&) = delete;
  TWellKnownNames& operator=(const TWellKnownNames&) = delete;

  // ---- Seeded lists (nothing reads them; they live as long as the object).
  TVector<TMaterialParameterNameToken> MaterialParameterNames;  // 15, "technique" three times
  TVector<TModelPartNameToken> ModelPartNames;                  // 1,070
  TVector<TMountingPointToken> MountingPointNames;              // CommonData, DatasMap, VirtualData, ZZ
  TVector<TToken18> Table18Names;                               // SuperWeaponDelegator
  TVector<TToken5> Table5Names;                                 // Verriere, vitremiroir
  TVector<TToken7> Table7Names;                                 // Camp

  TOrvString<char> DollarText{"$"};
  TOrvString<char> SoundText{"_Sound"};
  TOrvString<char> PlatformXbox{"Xbox"};
  TOrvString<char> PlatformPS3{"PS3"};
  TOrvString<char> PlatformLinux{"Linux"};
  TOrvString<char> PlatformMacOS{"MacOS"};
  TOrvString<char> PlatformPC{"PC"};

  // ---- Extensions, each named after its text and registered in this order.
  TFileExtension tgaExtension = Register("tga");
  TFileExtension tgvExtension = Register("tgv");
  TFileExtension pngExtension = Register("png");
  TFileExtension FileIDExtension = Register("FileID");
  TFileExtension SourceFileIdExtension = Register("SourceFileId");
  TFileExtension Ase2VdfBinExtension = Register("Ase2VdfBin");
  TFileExtension vdfExtension = Register("vdf");
  TFileExtension cubeExtension = Register("cube");
  TFileExtension R32Extension = Register("R32");
  TFileExtension IFFExtension = Register("IFF");
  TFileExtension SFormatExtension = Register("SFormat");
  TFileExtension essExtension = Register("ess");
  TFileExtension edatExtension = Register("edat");
  TFileExtension sdatExtension = Register("sdat");
  TFileExtension datExtension = Register("dat");
  TFileExtension bafExtension = Register("baf");
  TFileExtension Neu3Extension = Register("Neu3");
  TFileExtension VdfBinExtension = Register("VdfBin");
  TFileExtension VdfBin_debugExtension = Register("VdfBin_debug");
  TFileExtension TrueVdfBinExtension = Register("TrueVdfBin");
  TFileExtension cppGladVDFBinDebugExtension = Register("cpp.GladVDFBinDebug");
  TFileExtension boobsExtension = Register("boobs");
  TFileExtension vdfBinExtension = Register("vdfBin");  // the id of "VdfBin": case is ignored
  TFileExtension dicExtension = Register("dic");
  TFileExtension xyzExtension = Register("xyz");
  TFileExtension KdtExtension = Register("Kdt");
  TFileExtension UVKdtExtension = Register("UVKdt");
  TFileExtension vidExtension = Register("vid");
  TFileExtension dlcExtension = Register("dlc");
  TFileExtension webmExtension = Register("webm");
  TFileExtension AnyExtension = Register("*");  // the wildcard of TFileExtension::Matches
  TFileExtension tgv_pcExtension = Register("tgv_pc");
  TFileExtension tgv_macosExtension = Register("tgv_macos");
  TFileExtension tgv_360Extension = Register("tgv_360");
  TFileExtension tgv_ps3Extension = Register("tgv_ps3");

  // ---- Mounting points.
  TMountingPointToken LocalShotDir{"LocalShotDir"};
  TMountingPointToken LocalDataDir{"LocalDataDir"};
  TMountingPointToken LocalSaveDir{"LocalSaveDir"};
  TMountingPointToken EmptyMountingPoint1;  // id 0, the empty text
  TMountingPointToken EmptyMountingPoint2;  // id 0, the empty text
  TMountingPointToken MapDat{"MapDat"};

  // ---- File names.
  TFileName ToutBlancFileName{"CommonData:Assets/2D/Misc/ToutBlanc.tga"};
  TFileName MeshFileName{"mesh"};

 private:
  // Fills the lists, after the members above.
  TWellKnownNames();
  ~TWellKnownNames() = default;

  static TFileExtension Register(const char* text) { return TFileExtension::Register(TOrvString<char>(text)); }

  static inline TWellKnownNames* g_instance = nullptr;
  friend TWellKnownNames* GetWellKnownNames() noexcept;
};

// Null before TWellKnownNames::Create and after TWellKnownNames::Destroy.
inline TWellKnownNames* GetWellKnownNames() noexcept { return TWellKnownNames::g_instance; }

}  // namespace Orvan
