// The well-known names object and the content rows it seeds the tables with.
#include "core/filesystem/well_known_names.h"

#include <array>

#include "core/filesystem/file_name_registry.h"

namespace Orvan {

namespace {

// ---- The rows, parsed from the embedded text at compile time.

constexpr char kRowsText[] =
#include "core/filesystem/well_known_names_text.inc"
    ;
constexpr std::string_view kRows(kRowsText, sizeof(kRowsText) - 1);

constexpr bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

constexpr std::string_view TrimBlanks(std::string_view line) {
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
  return line;
}

// Calls visit(name) for each name of the section, in file order.
template <typename TVisit>
constexpr void ForEachRow(std::string_view section, TVisit&& visit) {
  std::string_view text = kRows;
  bool inSection = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string_view trimmed = TrimBlanks(line);
    if (trimmed.empty() || trimmed.front() == '#') continue;
    if (trimmed.front() == '[' && trimmed.back() == ']') {
      inSection = trimmed.substr(1, trimmed.size() - 2) == section;
      continue;
    }
    if (!inSection) continue;
    if (trimmed.size() >= 2 && trimmed.front() == '"' && trimmed.back() == '"') {
      visit(trimmed.substr(1, trimmed.size() - 2));
    } else {
      visit(trimmed);
    }
  }
}

constexpr std::size_t CountRows(std::string_view section) {
  std::size_t count = 0;
  ForEachRow(section, [&count](std::string_view) { ++count; });
  return count;
}

template <std::size_t kCount>
constexpr std::array<std::string_view, kCount> CollectRows(std::string_view section) {
  std::array<std::string_view, kCount> rows{};
  std::size_t index = 0;
  ForEachRow(section, [&](std::string_view name) {
    if (index < kCount) rows[index] = name;
    ++index;
  });
  return rows;
}

// The names that the rows go between, or after.
constexpr const char* kFirstMaterialParameterNames[] = {"diffuseTexture", "SpecularLevel", "specularPower"};
constexpr const char* kLastMaterialParameterNames[] = {"Standard", "iconeNoCampColor"};
constexpr const char* kLastComponentNames[] = {"VirtualData", "ZZ"};

constexpr std::size_t kMiddleMaterialParameterNameCount =
    kWellKnownMaterialParameterNameCount - std::size(kFirstMaterialParameterNames) -
    std::size(kLastMaterialParameterNames);
constexpr std::size_t kOwnComponentNameCount = kWellKnownComponentNameCount - std::size(kLastComponentNames);

static_assert(CountRows("MaterialParameterNames") == kMiddleMaterialParameterNameCount,
              "well_known_names.txt: [MaterialParameterNames] must hold 10 names");
static_assert(CountRows("ModelPartNames") == kWellKnownModelPartNameCount,
              "well_known_names.txt: [ModelPartNames] must hold 1070 names");
static_assert(CountRows("ComponentNames") == kOwnComponentNameCount,
              "well_known_names.txt: [ComponentNames] must hold 616 names");

constexpr auto kMiddleMaterialParameterNames =
    CollectRows<kMiddleMaterialParameterNameCount>("MaterialParameterNames");
constexpr auto kModelPartNames = CollectRows<kWellKnownModelPartNameCount>("ModelPartNames");
constexpr auto kComponentNames = CollectRows<kOwnComponentNameCount>("ComponentNames");

TTokenRange RangeOf(std::string_view name) { return {name.data(), name.data() + name.size()}; }

}  // namespace

namespace WellKnownNameRows {
std::span<const std::string_view> GetMiddleMaterialParameterNames() { return kMiddleMaterialParameterNames; }
std::span<const std::string_view> GetModelPartNames() { return kModelPartNames; }
std::span<const std::string_view> GetComponentNames() { return kComponentNames; }
}  // namespace WellKnownNameRows

void TWellKnownNames::Create() {
  if (g_instance == nullptr) g_instance = new TWellKnownNames;
}

void TWellKnownNames::Destroy() noexcept {
  delete g_instance;
  g_instance = nullptr;
}

// The members above have registered the extensions, interned the six mounting-point tokens and
// built the two file names; the lists follow, in this order.
TWellKnownNames::TWellKnownNames() {
  for (const char* name : {"CommonData", "DatasMap", "VirtualData", "ZZ"}) AppendToken(MountingPointNames, name);

  for (const char* name : kFirstMaterialParameterNames) AppendToken(MaterialParameterNames, name);
  for (std::string_view name : kMiddleMaterialParameterNames) AppendToken(MaterialParameterNames, RangeOf(name));
  for (const char* name : kLastMaterialParameterNames) AppendToken(MaterialParameterNames, name);

  for (std::string_view name : kModelPartNames) AppendToken(ModelPartNames, RangeOf(name));

  TFileNameRegistry& registry = *TFileNameRegistry::Get();
  for (std::string_view name : kComponentNames) registry.InternComponentName(RangeOf(name));
  for (std::string_view name : kLastComponentNames) registry.InternComponentName(RangeOf(name));

  AppendToken(Table18Names, "SuperWeaponDelegator");
  AppendToken(Table5Names, "Verriere");
  AppendToken(Table5Names, "vitremiroir");
  AppendToken(Table7Names, "Camp");
}

}  // namespace Orvan
