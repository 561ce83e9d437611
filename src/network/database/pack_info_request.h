// Reading a pack document of "packdb/": the numbers of its games.
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/text/engine_string.h"
#include "network/database/database_accesser.h"

namespace Orvan::Network {

class TDbRequestGetPackInfo : public IGenericDbStruct {
 public:
  explicit TDbRequestGetPackInfo(const TOrvString<char>& packName);
  ~TDbRequestGetPackInfo() override;

  TOrvString<char> BuildUrl(const TOrvString<char>& accesserBaseUrl) override;
  // A document without its "game_list" fails with NotFound.
  void InterpretRequestResult(std::int32_t httpCode, const char* answerText) override;

  const TVector<std::uint32_t>& GetGameNumbers() const { return gameNumbers_; }

 private:
  TOrvString<char> path_;
  TVector<std::uint32_t> gameNumbers_;
};

}  // namespace Orvan::Network
