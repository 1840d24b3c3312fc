#pragma once
// Text rules of the fax engine: header lines and their $ codes, modem strings, received file
// names, progress texts.
#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "fax/fax_defs.h"

namespace kv {

// Values the $ codes of a header line stand for.
struct HeaderFields {
  std::string stationId;  // $I
  std::string sender;     // $F
  std::string recipient;  // $R
  std::string title;      // $S
  int faxPages = 0;       // pages of the fax file
  int coverPages = 0;     // pages of the cover (a text cover is one page)
  int coverPage = 1;      // current cover page while the cover is sent
  int pageNumber = 1;     // current fax page
  bool sendingCover = false;
  bool afterCover = false;  // a cover was sent before this page
  std::tm now{};
};

// Replaces each $ code (from "$" to the next blank) by its value; unknown codes vanish.
// The result is cut to 255 characters.
std::string substituteHeader(std::string_view text, const HeaderFields &f);

// The header line the send window builds from the user's name and station id:
// "Page $P of $N, Sent by NAME, $I  on 6 Dec 2026 at 02:05pm".
std::string BuildHeader(std::string_view name, std::string_view stationId, const std::tm &now);

// Default initialisation string by dial options.
std::string defaultInitString(bool blindDial, bool detectBusy);

// ModemInit as stored: upper-cased, "AT" in front unless it starts with "A", cut to 40.
std::string normalizeModemInit(std::string_view s);

// Short date and long time as the history file and $D/$T write them.
std::string shortDate(const std::tm &t);
std::string longTime(const std::tm &t);
std::tm localNow();

// Name of a received file when no handler supplies one. dir may be empty. The name never
// takes anything from the line: only the directory, a counter and the extension.
std::string receiveFileName(TFaxNaming scheme, std::string_view dir, std::string_view ext,
                            const std::tm &today);

}  // namespace kv
