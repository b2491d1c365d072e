#include "corvane/lesson/csv_line_reader.h"

#include <cstring>
#include <span>

namespace corvane {

void CsvRawLine::clear() {
  head.clear();
  cut = false;
  rest_has_comma = false;
  rest_has_quote = false;
  rest_without_quotes.clear();
}

CsvLineReader::CsvLineReader(platform::InputFile file) : file_(std::move(file)) {}

bool CsvLineReader::fill() {
  pos_ = 0;
  len_ = file_.read(std::span(reinterpret_cast<uint8_t*>(buffer_.data()), buffer_.size()));
  return len_ > 0;
}

bool CsvLineReader::at_end() { return pos_ == len_ && !fill(); }

void CsvLineReader::read_line(CsvRawLine& line) {
  line.clear();
  while (pos_ < len_ || fill()) {
    const char* start = buffer_.data() + pos_;
    const std::size_t available = len_ - pos_;
    const void* cr = std::memchr(start, '\r', available);
    if (cr == nullptr) {
      append(line, start, available);
      pos_ = len_;
      continue;
    }
    const auto length = static_cast<std::size_t>(static_cast<const char*>(cr) - start);
    append(line, start, length);
    pos_ += length + 1;
    if ((pos_ < len_ || fill()) && buffer_[pos_] == '\n') ++pos_;
    return;
  }
}

void CsvLineReader::append(CsvRawLine& line, const char* bytes, std::size_t count) {
  const std::size_t room = kMaxKeptLineBytes - line.head.size();
  const std::size_t kept = count < room ? count : room;
  line.head.append(bytes, kept);
  if (kept == count) return;
  line.cut = true;
  for (std::size_t i = kept; i < count; ++i) {
    const char c = bytes[i];
    if (c == '"') {
      line.rest_has_quote = true;
      continue;
    }
    if (c == ',') line.rest_has_comma = true;
    if (line.rest_without_quotes.size() < kMaxKeptRestBytes) line.rest_without_quotes += c;
  }
}

}  // namespace corvane
