#include "core/filesystem/file_name_errors.h"

#include "core/diagnostics/engine_exception_kinds.h"
#include "core/filesystem/file_name.h"
#include "core/text/text_encoding.h"
#include "core/tokens/token_tables.h"

namespace Orvan {

void CheckFileNameComponent(TCharRange<char> component) {
  for (const char* c = component.begin; c != component.end; ++c) {
    if (!IsAllowedFileNameByte(static_cast<unsigned char>(*c))) {
      throw EInvalidFileName(component.begin, static_cast<std::uint32_t>(component.end - component.begin));
    }
  }
}

void ThrowMountingPointNotFound(const TFileName& fileName) { ThrowMountingPointNotFound(fileName.GetMountingPoint()); }

void ThrowMountingPointNotFound(std::uint16_t mountingPoint) {
  throw EMountingPointNotFound(mountingPoint,
                               Utf8ToWide(TOrvString<char>(TMountingPointToken::FromId(mountingPoint).c_str())));
}

}  // namespace Orvan
