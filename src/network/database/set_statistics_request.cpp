// Writing one statistics document.
#include "network/database/set_statistics_request.h"

#include <cstdio>

#include "network/database/statistics_request.h"
#include "network/database/upload_body.h"

namespace Orvan::Network {

void AppendJsonEscaped(std::ostream& out, const char* value) {
  if (value == nullptr) return;
  for (const char* p = value; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    switch (c) {
      case '"':
      case '\\':
        out << '\\' << *p;
        break;
      case '\n':
        out << "\\n";
        break;
      case '\r':
        out << "\\r";
        break;
      case '\t':
        out << "\\t";
        break;
      default:
        if (c < 0x20) {
          char code[8];
          std::snprintf(code, sizeof code, "\\u%04X", static_cast<unsigned>(c));
          out << code;
        } else {
          out << *p;
        }
    }
  }
}

TDbRequestSetStatistics::TDbRequestSetStatistics(const TOrvString<char>& baseUrl, std::uint32_t documentNumber,
                                                 std::uint64_t id, std::uint32_t kind)
    : baseUrl_(baseUrl), documentName_(MakeStatisticsDocumentName(kind, documentNumber, id)), kind_(kind) {
  body_ << "{\n\"_id\":\"" << MakeStatisticsDocumentPath(kind_, documentName_).c_str() << '"';
}

TDbRequestSetStatistics::~TDbRequestSetStatistics() = default;

void TDbRequestSetStatistics::AddField(const char* key, const char* value) {
  body_ << ",\"" << (key != nullptr ? key : "") << "\":\"";
  AppendJsonEscaped(body_, value);
  body_ << '"';
}

TOrvString<char> TDbRequestSetStatistics::BuildUrl(const TOrvString<char>&) {
  body_ << '}';
  return baseUrl_ + MakeStatisticsDocumentPath(kind_, documentName_);
}

std::uint32_t TDbRequestSetStatistics::GetUploadSize() { return static_cast<std::uint32_t>(body_.str().size()); }

std::uint32_t TDbRequestSetStatistics::ReadUploadData(void* buffer, std::uint32_t maxBytes) {
  return CopyUploadPart(body_.str(), uploaded_, buffer, maxBytes);
}

void TDbRequestSetStatistics::InterpretRequestResult(std::int32_t httpCode, const char*) {
  if (httpCode >= 200 && httpCode <= 299) return;
  if (httpCode == 409) {
    Fail(TDbRequestError::Conflict);
  } else if (httpCode == 404) {
    Fail(TDbRequestError::NotFound);
  } else {
    Fail(TDbRequestError::Generic);
  }
}

}  // namespace Orvan::Network
