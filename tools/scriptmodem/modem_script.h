#pragma once
// The script a ScriptModem follows: what the program on the port must send, and what the
// "modem" answers. One step per line; blank lines and lines starting with '#' are ignored.
//
//   > TEXT        Expect one command line from the program (bytes up to CR; a leading LF and
//                 surrounding blanks are dropped). Compared without regard to case. A final
//                 '*' matches any rest: "> ATD*".
//   >~ REGEX      Expect a command line matching REGEX (ECMAScript, whole line, any case).
//   >raw BYTES    Expect exactly these bytes (escapes below), e.g. ">raw \x12" for DC2, or the
//                 single character a Class 1 program sends to abort a reception.
//   >byte         Expect any one byte.
//   >data [HEX | @FILE]
//                 Expect binary data ended by DLE ETX; DLE DLE counts as one DLE. When HEX
//                 bytes or a file are given, the unstuffed data must equal them. The data is
//                 kept in the report either way. ">data," and ">data." end at DLE "," and
//                 DLE "." instead (a Class 2.0 page followed by more pages, or the last one).
//   < TEXT        Send a result line as the modem does: CR LF TEXT CR LF.
//   <raw BYTES    Send bytes as they are: partial lines, lone CRs, binary.
//   <data HEX | @FILE
//                 Send binary data with DLE doubled, then DLE ETX (received page data or an
//                 HDLC frame).
//   wait MS       Pause; input stays queued for the next expectation.
//   mute [MS]     Read and discard everything and answer nothing, for MS ms or, without MS,
//                 until the end: a modem that stopped answering.
//   silence MS    Expect nothing at all from the program for MS ms.
//   hangup        Close the modem's side of the port: the program reads EOF or EIO, as from
//                 an unplugged modem. Ends the script.
//   timeout MS    Time allowed to each later expectation (default 10000).
//   echo on|off   Echo command lines back as a modem in E1 does (default off).
//
// BYTES and TEXT take the escapes \r \n \t \\ \xNN. FILE is relative to the script's folder.
//
// Example: a Class 1 call that meets a busy line.
//
//   > ATZ
//   < OK
//   > AT+FCLASS=1
//   < OK
//   > ATD*
//   wait 1500
//   < BUSY
//   > ATH0
//   < OK
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

struct ScriptStep {
  enum Kind {
    ExpectLine,
    ExpectRegex,
    ExpectRaw,
    ExpectByte,
    ExpectData,
    Send,  // bytes ready to write (framing and stuffing already applied)
    Wait,
    Mute,
    Silence,
    Hangup,
    Timeout,
    Echo,
  };
  Kind kind = Wait;
  std::string text;      // expected line, regex, raw bytes, data to compare, or bytes to send
  bool hasData = false;  // ExpectData: compare with text
  char endByte = 0x03;   // ExpectData: the byte after DLE that ends the data
  int ms = 0;            // Wait, Mute (-1: forever), Silence, Timeout; Echo: 1 on, 0 off
  int line = 0;          // line in the script, for reports
  std::string source;    // the script line itself, for reports
};

class ScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ModemScript {
 public:
  // Parses script text. baseDir resolves @FILE. Throws ScriptError naming the line.
  static ModemScript parse(std::string_view text, const std::string &baseDir = ".");
  static ModemScript load(const std::string &path);

  const std::vector<ScriptStep> &steps() const { return steps_; }

  // DLE stuffing as a modem applies it: every DLE doubled, DLE ETX at the end.
  static std::string stuff(std::string_view data);
  // Turns escapes (\r \n \t \\ \xNN) into bytes. Throws ScriptError on a bad escape.
  static std::string unescape(std::string_view text);
  // Printable form of bytes for reports: escapes for control and high bytes.
  static std::string printable(std::string_view bytes, std::size_t limit = 200);

 private:
  std::vector<ScriptStep> steps_;
};

}  // namespace kv
