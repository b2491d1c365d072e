#pragma once
// Reads a lesson CSV file line by line, as 8-bit text. A line ends at CR LF or at a lone CR; a
// lone LF does not end a line and stays in it. The end-of-file test comes before each read, so
// an empty file has no line and a file ending in a line end has no empty last line.
//
// Memory stays bounded whatever the file holds. A line longer than kMaxKeptLineBytes keeps only
// its first kMaxKeptLineBytes bytes; of the rest it keeps whether it holds a comma or a double
// quote, and its bytes without double quotes up to kMaxKeptRestBytes. That is enough to split
// it exactly as the whole line (see CsvLineView), with two differences confined to the message
// column of such a line: a message over 65535 bytes, which no record file can hold, is kept
// cut (still too long, so saving the lesson fails as it would, but the byte count in that
// failure's description is the kept one); and in a multi-byte code page the one character at
// the cut may be replaced.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/input_file.h"

namespace corvane {

// 32768 characters take at most 4 bytes each in any code page; more than that in the head
// leaves every character position the tokeniser may reach inside it.
inline constexpr std::size_t kMaxKeptLineBytes = std::size_t{256} << 10;
// One byte more than a counted text of a record file can hold.
inline constexpr std::size_t kMaxKeptRestBytes = 65536;

struct CsvRawLine {
  std::string head;
  bool cut = false;
  bool rest_has_comma = false;
  bool rest_has_quote = false;
  std::string rest_without_quotes;

  void clear();
};

class CsvLineReader {
 public:
  explicit CsvLineReader(platform::InputFile file);

  // True when no byte is left to read.
  bool at_end();
  // Reads the next line into line (its storage is reused) and consumes its line end.
  void read_line(CsvRawLine& line);
  void close() { file_.close(); }

 private:
  bool fill();
  void append(CsvRawLine& line, const char* bytes, std::size_t count);

  platform::InputFile file_;
  std::array<char, 64 * 1024> buffer_{};
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
};

}  // namespace corvane
