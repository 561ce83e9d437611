// Localised system messages and the modal message box that shows them through the external
// program "xmessage", which answers through its exit status.
#pragma once

#include <cstdint>

#include "core/text/engine_string.h"

namespace Orvan {

struct TSystemMessage {
  std::uint32_t id;
  const char* text;
};

struct TLocalisedSystemMessage {
  std::uint32_t id;
  const char* language;  // "US", "FR", "ITA", "GER", "SPA", "POL", "CZ", "RU", "JPN", "HU", "TC", "KOR"
  const char* text;
};

// Both tables end with a closing row of this id and empty texts.
inline constexpr std::uint32_t kSystemMessageClosingId = 19;

// The text of `id` in "US", else its fallback text, else the empty text; never null.
const char* GetSystemMessageText(std::uint32_t id);
// The tables and their row counts (rows before the closing row).
const TSystemMessage* GetFallbackSystemMessages(std::uint32_t* rowCount);
const TLocalisedSystemMessage* GetLocalisedSystemMessages(std::uint32_t* rowCount);
// Null when the fallback table has no row of that id.
const char* GetFallbackSystemMessageText(std::uint32_t id);

// Runs "xmessage -buttons <labels> '<message>'" and blocks until it exits. The message is
// "--- <caption>\n\n<text>", followed by the call stack when there is one. The answer is the exit
// status of the command (xmessage's own status for a button; 127 when xmessage is missing; 255 when
// the command could not run).
std::uint32_t ShowMessageBox(const TOrvString<char>& caption, const TOrvString<char>& text,
                             const TOrvString<char>& callStack, std::uint8_t buttonSet);
// Button set 1; the answer is dropped.
void ShowLocalisedMessageBox(std::uint32_t captionId, std::uint32_t textId);
// Button set 2: 1 for yes, 2 for no, 0 for anything else.
std::uint32_t ShowLocalisedQuestionBox(std::uint32_t captionId, std::uint32_t textId);

}  // namespace Orvan
