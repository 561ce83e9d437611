// Free functions that make engine strings from the platform or from other values, or rewrite one
// text into another: host name, system error texts, local time texts, a file-name character
// filter, wildcards as regular expressions, a copying replace and printf-style formatting.
#pragma once

#include <cstdint>
#include <ctime>

#include "core/text/engine_string.h"

namespace Orvan {

// The host name; the empty string when the platform cannot give it.
TOrvString<char> GetHostName();
// The text of the calling thread's errno (read first, before anything can change it).
TOrvString<char> GetSystemErrorText();
TOrvString<char> GetLastSystemErrorText();

// The local date-time text "YYYY-MM-DDThh:mm:ss.000" of now.
TOrvString<char> GetLocalTimeIsoText();
// The local time as YYMMDD_HHMMSS (7 March 2026, 09:05:03 gives "260307_090503"), of now or of
// `time`; the empty string when the time has no local date.
TOrvString<char> GetLocalTimeStampText();
TOrvString<char> GetLocalTimeStampText(std::time_t time);

// Keeps the bytes 1 to 127 but for " * / : < > ? \ |; every byte of a non-ASCII character goes.
void FilterFileNameCharacters(TOrvString<char>& text);

// A copy of `text` with every occurrence of `search` replaced, left to right; inserted text is not
// searched again. Without an occurrence (or with an empty search) the copy shares text's block.
TOrvString<char> ReplaceInCopy(const TOrvString<char>& text, const TOrvString<char>& search,
                               const TOrvString<char>& replacement);

// The upper-cased pattern as a regular expression: \ ( ) . $ are escaped and '*' matches a run of
// characters that cannot stand in a file name (nor '!' or '='). "*.ini" gives [^/:\*\?\"!=|]*\.INI.
TOrvString<char> WildcardToRegex(const TOrvString<char>& pattern);

// printf into `out`, in a buffer of 64 characters doubled until the text fits. A print that fails
// whatever the room (an argument that cannot be encoded) gives the empty string.
void FormatString(TOrvString<char>& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void FormatWideString(TOrvString<wchar_t>& out, const wchar_t* format, ...);

// The text of a sample image file on the "DataDir" mounting point.
TOrvString<char> MakeSampleFileNameText();

}  // namespace Orvan
