// Fuzz target of file-name parsing: any text either throws EInvalidFileName, exactly when a path
// component holds a forbidden byte, or gives a name whose text forms parse back to the same name.
// A mounting-point table that runs full is an accepted outcome.
#include <cstdint>
#include <cstring>
#include <string>

#include "core/diagnostics/engine_exception_kinds.h"
#include "core/filesystem/file_extension.h"
#include "core/filesystem/file_name.h"
#include "core/filesystem/file_name_errors.h"
#include "core/filesystem/well_known_names.h"
#include "core/tokens/token_tables.h"
#include "support/engine_test_environment.h"
#include "support/fuzz_check.h"

namespace {

using OrvTest::FuzzCheck;
using Orvan::TFileName;

// Every so many inputs the registries and token tables start afresh, so that names interned by a
// long run do not pile up.
constexpr std::uint32_t kInputsPerRegistry = 4096;

void StartAfresh() {
  Orvan::TWellKnownNames::Destroy();
  Orvan::DestroyFileExtensionRegistry();
  Orvan::TFileNameRegistry::Destroy();
  Orvan::DestroyAllInternedTokenTables();
  Orvan::InitInternedTokenTables();
  Orvan::TFileNameRegistry::Create();
  Orvan::TFileExtensionRegistry::Create();
  Orvan::TWellKnownNames::Create();
}

// Whether the path part (after the first ':') holds a byte that no component may hold.
bool HasForbiddenByte(const std::string& text) {
  const std::size_t colon = text.find(':');
  const std::size_t start = colon == std::string::npos ? 0 : colon + 1;
  for (std::size_t i = start; i < text.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte != '/' && byte != '\\' && !Orvan::IsAllowedFileNameByte(byte)) return true;
  }
  return false;
}

void CheckRoundTrip(const TFileName& name) {
  const Orvan::TOrvString<char> text = name.ToString();
  FuzzCheck(TFileName(text) == name, "the text form does not parse back to the name");
  FuzzCheck(TFileName(name.ToString('\\')) == name, "the backslash form does not parse back to the name");

  char buffer[16];
  const std::uint32_t length = name.GetText(buffer, sizeof(buffer));
  FuzzCheck(length < sizeof(buffer) && buffer[length] == '\0', "the buffer form is not cut and terminated");
  FuzzCheck(std::strncmp(buffer, text.GetData(), length) == 0 && length == std::min<std::uint32_t>(text.GetLength(), 15),
            "the buffer form is not the start of the text form");

  const std::uint32_t count = name.GetComponentCount();
  FuzzCheck(count == 0 || name.GetComponentId(count - 1) == name.GetLastComponent(), "last component differs");
  FuzzCheck(!(name < name) && !TFileName::Compare(name, name), "a name orders before itself");
  FuzzCheck(name.GetParent().IsStrictAncestorOf(name) == (count != 0), "the parent is not an ancestor");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::uint32_t inputs = 0;
  OrvTest::StartEngineOnce();
  if (++inputs % kInputsPerRegistry == 0) StartAfresh();

  // The text up to its first NUL: the form every caller has.
  const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
  const bool forbidden = HasForbiddenByte(text);
  try {
    const TFileName name(text.c_str());
    FuzzCheck(!forbidden, "a forbidden byte was accepted");
    FuzzCheck(TFileName(Orvan::TOrvString<char>(text.c_str())) == name, "the string form parses differently");
    CheckRoundTrip(name);
  } catch (const Orvan::EInvalidFileName& failure) {
    FuzzCheck(forbidden, "a text without forbidden bytes was refused");
    const std::string component = failure.GetFileName();
    FuzzCheck(component.size() <= 4095 && text.find(component) != std::string::npos,
              "the refused component is not part of the text");
  } catch (const Orvan::EException& failure) {
    FuzzCheck(std::strstr(failure.what(), "Interned token table full") != nullptr, "unexpected engine exception");
  }
  return 0;
}
