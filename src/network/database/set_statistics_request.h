// Writing a statistics document: a PUT of a JSON object written by hand, field by field.
#pragma once

#include <cstdint>
#include <sstream>

#include "core/text/engine_string.h"
#include "network/database/database_accesser.h"

namespace Orvan::Network {

class TDbRequestSetStatistics : public IGenericDbStruct {
 public:
  // The body starts with "_id": the document's path (see MakeStatisticsDocumentPath).
  TDbRequestSetStatistics(const TOrvString<char>& baseUrl, std::uint32_t documentNumber, std::uint64_t id,
                          std::uint32_t kind);
  ~TDbRequestSetStatistics() override;

  // Appends one text member. The key is written as given; the value is escaped for JSON.
  void AddField(const char* key, const char* value);

  // Closes the body; the URL is the request's own base URL, not the accesser's.
  TOrvString<char> BuildUrl(const TOrvString<char>& accesserBaseUrl) override;
  std::uint32_t GetUploadSize() override;
  std::uint32_t ReadUploadData(void* buffer, std::uint32_t maxBytes) override;
  void InterpretRequestResult(std::int32_t httpCode, const char* answerText) override;

  std::string GetBody() const { return body_.str(); }

 private:
  TOrvString<char> baseUrl_;
  TOrvString<char> documentName_;
  std::ostringstream body_;
  std::uint32_t uploaded_ = 0;
  std::uint32_t kind_;
};

// The value as the inside of a JSON string: '"' and '\' after a backslash, \n, \r and \t, every
// other byte below 0x20 as \u00XX; other bytes unchanged.
void AppendJsonEscaped(std::ostream& out, const char* value);

}  // namespace Orvan::Network
