// The system-message tables, their lookup and the xmessage box.
#include "core/diagnostics/system_messages.h"

#include <cstdlib>
#include <cstring>

#include "core/diagnostics/dialog.h"
#include "core/text/positional_format.h"

namespace Orvan {

namespace {

// The scans never look beyond these row indexes.
constexpr std::uint32_t kFallbackScanLimit = 100;
constexpr std::uint32_t kLocalisedScanLimit = 2000;

#define ORV_MESSAGE_2 "Corrupted installation detected. Please verify the game cache integrity or reinstall."
#define ORV_MESSAGE_4 "Game did not terminate properly. Do you want to load the last known good configuration ?"
#define ORV_MESSAGE_5 "Game did not terminate properly."
#define ORV_MESSAGE_6 \
  "Unable to reset the last known good configuration file, do you want to set up the default configuration?"
#define ORV_MESSAGE_7 "Connection to store client failed."
#define ORV_MESSAGE_8 "This game requires Windows XP or later to run."
#define ORV_MESSAGE_9 "Checking operating system"
#define ORV_MESSAGE_10                                                                                      \
  "This game is officially supported on Windows XP Service Pack 2, Windows VISTA and Windows SEVEN.\nDo " \
  "you want to continue?"
#define ORV_MESSAGE_11                                                                                       \
  "Only one instance of game can be launched at a time. Make sure the game is not running in the background " \
  "or reboot the machine."
#define ORV_MESSAGE_12 "A problem occurred while opening the video. Please install Windows Media 9 codec or later."
#define ORV_MESSAGE_13 "WMV decoding error"
#define ORV_MESSAGE_14 \
  "WMVCore.dll not found! Videos will not be played.\nFor more informations, please visit the technical forum."
#define ORV_MESSAGE_15 "Some datas are missing, you should reinstall the game or its last content."
#define ORV_MESSAGE_16                                                                                      \
  "Unable to access graphic device, your hardware or Direct3D configuration is incompatible with this " \
  "game.\n\nReason:\n"
#define ORV_MESSAGE_17 "Critical graphic error"
#define ORV_MESSAGE_18 "Other processus (store client) has crashed. The game will now exit."

const TSystemMessage kFallbackMessages[] = {
    {0, "Error"},         {1, "Fatal Error"},   {2, ORV_MESSAGE_2},   {4, ORV_MESSAGE_4},   {5, ORV_MESSAGE_5},
    {6, ORV_MESSAGE_6},   {7, ORV_MESSAGE_7},   {8, ORV_MESSAGE_8},   {9, ORV_MESSAGE_9},   {10, ORV_MESSAGE_10},
    {11, ORV_MESSAGE_11}, {12, ORV_MESSAGE_12}, {13, ORV_MESSAGE_13}, {14, ORV_MESSAGE_14}, {15, ORV_MESSAGE_15},
    {16, ORV_MESSAGE_16}, {17, ORV_MESSAGE_17}, {18, ORV_MESSAGE_18}, {kSystemMessageClosingId, ""},
};

// Every language block lists the ids up to 17; only the captions (ids 0 and 1) are translated,
// the other rows carry the English text (the lookup asks for "US" only).
#define ORV_MESSAGES_2_TO_5(language)                                                    \
  {2, language, ORV_MESSAGE_2}, {4, language, ORV_MESSAGE_4}, {5, language, ORV_MESSAGE_5}
#define ORV_MESSAGES_7_TO_9(language) \
  {7, language, ORV_MESSAGE_7}, {8, language, ORV_MESSAGE_8}, {9, language, ORV_MESSAGE_9}
#define ORV_MESSAGES_11_TO_13(language) \
  {11, language, ORV_MESSAGE_11}, {12, language, ORV_MESSAGE_12}, {13, language, ORV_MESSAGE_13}
#define ORV_MESSAGES_14_TO_17(language)                                                        \
  {14, language, ORV_MESSAGE_14}, {15, language, ORV_MESSAGE_15}, {16, language, ORV_MESSAGE_16}, \
      {17, language, ORV_MESSAGE_17}
#define ORV_LANGUAGE_BLOCK(language, error, fatalError)                                                       \
  {0, language, error}, {1, language, fatalError}, ORV_MESSAGES_2_TO_5(language), {6, language, ORV_MESSAGE_6}, \
      ORV_MESSAGES_7_TO_9(language), {10, language, ORV_MESSAGE_10}, ORV_MESSAGES_11_TO_13(language),          \
      ORV_MESSAGES_14_TO_17(language)

const TLocalisedSystemMessage kLocalisedMessages[] = {
    ORV_LANGUAGE_BLOCK("US", "Error", "Fatal Error"),
    ORV_LANGUAGE_BLOCK("FR", "Erreur", "Erreur Fatale"),
    ORV_LANGUAGE_BLOCK("ITA", "Errore", "Errore fatale"),
    ORV_LANGUAGE_BLOCK("GER", "Fehler", "Schwerer Fehler"),
    ORV_LANGUAGE_BLOCK("SPA", "Error", "Error fatal"),
    ORV_LANGUAGE_BLOCK("POL", "B\xC5\x82\xC4\x85" "d", "Krytyczny b\xC5\x82\xC4\x85" "d"),
    ORV_LANGUAGE_BLOCK("CZ", "Chyba", "Fat\xC3\xA1ln\xC3\xAD chyba"),
    ORV_LANGUAGE_BLOCK("RU", "\xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0",
                       "\xD0\x9A\xD1\x80\xD0\xB8\xD1\x82\xD0\xB8\xD1\x87\xD0\xB5\xD1\x81\xD0\xBA\xD0\xB0\xD1\x8F "
                       "\xD0\xBE\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0"),
    ORV_LANGUAGE_BLOCK("JPN", "\xE3\x82\xA8\xE3\x83\xA9\xE3\x83\xBC",
                       "\xE8\x87\xB4\xE5\x91\xBD\xE7\x9A\x84\xE3\x81\xAA\xE3\x82\xA8\xE3\x83\xA9\xE3\x83\xBC"),
    ORV_LANGUAGE_BLOCK("HU", "Hiba", "V\xC3\xA9gzetes hiba"),
    ORV_LANGUAGE_BLOCK("TC", "\xE9\x8C\xAF\xE8\xAA\xA4",
                       "\xE7\x99\xBC\xE7\x94\x9F\xE5\x9A\xB4\xE9\x87\x8D\xE9\x8C\xAF\xE8\xAA\xA4"),
    // "KOR" has no rows 6, 10, 14, 15 and 16.
    {0, "KOR", "\xEC\x98\xA4\xEB\xA5\x98"},
    {1, "KOR", "\xEC\xB9\x98\xEB\xAA\x85\xEC\xA0\x81 \xEC\x98\xA4\xEB\xA5\x98"},
    ORV_MESSAGES_2_TO_5("KOR"),
    ORV_MESSAGES_7_TO_9("KOR"),
    ORV_MESSAGES_11_TO_13("KOR"),
    {17, "KOR", ORV_MESSAGE_17},
    {kSystemMessageClosingId, "", ""},
};

#undef ORV_LANGUAGE_BLOCK
#undef ORV_MESSAGES_14_TO_17
#undef ORV_MESSAGES_11_TO_13
#undef ORV_MESSAGES_7_TO_9
#undef ORV_MESSAGES_2_TO_5

template <typename TRow>
std::uint32_t CountRows(const TRow* rows, std::uint32_t limit) {
  std::uint32_t count = 0;
  while (count < limit && rows[count].id != kSystemMessageClosingId) ++count;
  return count;
}

// The shell keeps a single-quoted argument whole; a quote inside it closes the quoting, adds an
// escaped quote and opens it again.
TOrvString<char> QuoteForShell(const TOrvString<char>& text) {
  TOrvString<char> quoted;
  for (std::uint32_t i = 0; i < text.GetLength(); ++i) {
    if (text[i] == '\'') {
      quoted += "'\\''";
    } else {
      quoted += text[i];
    }
  }
  return quoted;
}

TOrvString<char> ButtonLabels(std::uint8_t buttonSet) {
  switch (buttonSet & 0x0F) {
    case kDialogButtonsYesNo:
      return FormatValues("yes:%1,no:%2", kDialogAnswerYes, kDialogAnswerNo);
    case kDialogButtonsOkCancel:
      return FormatValues("ok:%1,cancel:%2", kDialogAnswerOk, kDialogAnswerCancel);
    case kDialogButtonsCancelRetryContinue:
      return FormatValues("cancel:%1,retry:%2,continue:%3", kDialogAnswerCancel, kDialogAnswerRetry,
                          kDialogAnswerContinue);
    case kDialogButtonsIgnoreOnceIgnoreAlwaysQuit:
      return FormatValues("ignore_once:%1,ignore_always:%2,quit:%3", kDialogAnswerIgnoreOnce,
                          kDialogAnswerIgnoreAlways, kDialogAnswerQuit);
    default:
      // Set 1 and the sets nothing passes here.
      return FormatValues("ok:%1", kDialogAnswerOk);
  }
}

}  // namespace

const TSystemMessage* GetFallbackSystemMessages(std::uint32_t* rowCount) {
  if (rowCount != nullptr) *rowCount = CountRows(kFallbackMessages, kFallbackScanLimit);
  return kFallbackMessages;
}

const TLocalisedSystemMessage* GetLocalisedSystemMessages(std::uint32_t* rowCount) {
  if (rowCount != nullptr) *rowCount = CountRows(kLocalisedMessages, kLocalisedScanLimit);
  return kLocalisedMessages;
}

const char* GetFallbackSystemMessageText(std::uint32_t id) {
  for (std::uint32_t i = 0; i < kFallbackScanLimit && kFallbackMessages[i].id != kSystemMessageClosingId; ++i) {
    if (kFallbackMessages[i].id == id) return kFallbackMessages[i].text;
  }
  return nullptr;
}

const char* GetSystemMessageText(std::uint32_t id) {
  for (std::uint32_t i = 0; i < kLocalisedScanLimit && kLocalisedMessages[i].id != kSystemMessageClosingId; ++i) {
    const TLocalisedSystemMessage& row = kLocalisedMessages[i];
    if (row.id == id && std::strcmp(row.language, "US") == 0) return row.text;
  }
  const char* fallback = GetFallbackSystemMessageText(id);
  return fallback != nullptr ? fallback : "";
}

std::uint32_t ShowMessageBox(const TOrvString<char>& caption, const TOrvString<char>& text,
                             const TOrvString<char>& callStack, std::uint8_t buttonSet) {
  TOrvString<char> message = "--- " + caption + "\n\n" + text;
  if (!callStack.IsEmpty()) message = message + "\n\n=== CALLSTACK: ===\n" + callStack;
  const TOrvString<char> command =
      "xmessage -buttons " + ButtonLabels(buttonSet) + " '" + QuoteForShell(message) + "'";
  const int result = std::system(command.c_str());
  if (result == -1) return 255;
  return static_cast<std::uint32_t>(result >> 8) & 255u;
}

void ShowLocalisedMessageBox(std::uint32_t captionId, std::uint32_t textId) {
  ShowMessageBox(GetSystemMessageText(captionId), GetSystemMessageText(textId), TOrvString<char>(),
                 kDialogButtonsOk);
}

std::uint32_t ShowLocalisedQuestionBox(std::uint32_t captionId, std::uint32_t textId) {
  const std::uint32_t answer = ShowMessageBox(GetSystemMessageText(captionId), GetSystemMessageText(textId),
                                              TOrvString<char>(), kDialogButtonsYesNo);
  if (answer == kDialogAnswerYes) return 1;
  if (answer == kDialogAnswerNo) return 2;
  return 0;
}

}  // namespace Orvan
