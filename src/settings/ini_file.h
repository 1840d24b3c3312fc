#pragma once
// An INI file held as its lines, so that everything the program does not understand (comments,
// unknown sections and keys, odd lines) is written back exactly as it was read.
//
// Section and key names compare without regard to ASCII case. Where a section or key appears
// twice, the first one counts, for reading and for writing.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class IniFile {
 public:
  // Longest text a read returns; longer stored values are cut.
  static constexpr std::size_t kMaxValueLength = 1023;

  // Largest file read: a settings file holds a few kilobytes; anything larger (or a device
  // that never ends) is not one and is Unreadable.
  static constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;

  enum class LoadStatus { Loaded, Missing, Unreadable };

  IniFile() = default;
  static IniFile parse(std::string_view text);

  // Replaces the contents with the file's. A missing or unreadable file (one larger than
  // kMaxFileBytes included) leaves the contents empty, so every read gives its default.
  // |error| receives the reason when not Loaded.
  LoadStatus load(const std::filesystem::path &path, std::string *error = nullptr);

  // Writes the contents to |path| atomically (temporary file in the same directory, flushed to
  // disk, then renamed over the old file): a crash leaves the old file or the new one, never a
  // mix. Throws EIniWrite with a message naming the file when it cannot be written.
  void save(const std::filesystem::path &path) const;

  // The file contents as they would be saved.
  std::string text() const;

  bool hasSection(std::string_view section) const;
  bool hasKey(std::string_view section, std::string_view key) const;

  // The stored text of a key: surrounding blanks removed, one pair of enclosing double quotes
  // removed, cut to kMaxValueLength characters. nullopt when the key is missing.
  std::optional<std::string> value(std::string_view section, std::string_view key) const;

  std::string readString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  // Decimal, or hexadecimal with the prefix 0x (either sign). Anything else, or a number outside
  // the 32-bit range, gives the default. Hexadecimal up to 0xFFFFFFFF is taken as a bit pattern.
  int readInteger(std::string_view section, std::string_view key, int defaultValue) const;
  // True when the integer value is not 0; a value that is not a number gives the default.
  bool readBool(std::string_view section, std::string_view key, bool defaultValue) const;

  // Sets a key, creating its section at the end of the file and the key after the section's
  // last entry when missing. Line breaks in a value become blanks (a value is one line); a
  // value with blanks at either end or enclosed in quotes is quoted so it reads back the same.
  void writeString(std::string_view section, std::string_view key, std::string_view value);
  void writeInteger(std::string_view section, std::string_view key, int value);
  void writeBool(std::string_view section, std::string_view key, bool value);

  bool removeKey(std::string_view section, std::string_view key);

  std::vector<std::string> sectionNames() const;
  std::vector<std::string> keyNames(std::string_view section) const;

 private:
  struct Range {
    std::size_t header;  // index of the section's header line
    std::size_t end;     // one past its last line
  };
  std::optional<Range> findSection(std::string_view section) const;
  std::optional<std::size_t> findKey(const Range &range, std::string_view key) const;

  std::vector<std::string> lines_;  // without line ends
  std::string eol_ = "\n";          // the file's own line end is kept
  bool bom_ = false;                // a UTF-8 byte order mark is kept
};

}  // namespace kv
