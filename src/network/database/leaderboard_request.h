// Reading a leaderboard view of "_design/LB/": only its row count and offset are kept.
#pragma once

#include <cstdint>

#include "core/text/engine_string.h"
#include "network/database/database_accesser.h"

namespace Orvan::Network {

class TDbRequestGetLeaderboard : public IGenericDbStruct {
 public:
  // `databaseUrl` ends with "/"; the accesser's base URL is not used.
  TDbRequestGetLeaderboard(const TOrvString<char>& databaseUrl, const TOrvString<char>& viewName, std::uint32_t limit,
                           bool descending);
  TDbRequestGetLeaderboard(const TOrvString<char>& databaseUrl, const TOrvString<char>& viewName, std::uint32_t limit,
                           bool descending, const TOrvString<char>& startKey);
  ~TDbRequestGetLeaderboard() override;

  TOrvString<char> BuildUrl(const TOrvString<char>& accesserBaseUrl) override;
  void InterpretRequestResult(std::int32_t httpCode, const char* answerText) override;

  std::uint64_t GetOffset() const { return offset_; }
  std::uint64_t GetTotalRows() const { return totalRows_; }

 private:
  TOrvString<char> databaseUrl_;
  TOrvString<char> viewName_;
  std::uint32_t limit_;
  bool descending_;
  TOrvString<char> startKey_;
  std::uint64_t offset_ = 0;
  std::uint64_t totalRows_ = 0;
};

}  // namespace Orvan::Network
