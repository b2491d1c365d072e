#include "corvane/model/record_file.h"

#include "corvane/model/record_codec.h"
#include "platform/binary_file.h"

namespace corvane {

template <Record R>
void write_record_file(std::u16string_view path, const R& record) {
  // Encode first: a record that cannot be encoded leaves the file untouched.
  const std::vector<uint8_t> bytes = encode_record(record);
  auto file = platform::BinaryFile::open_read_write(path);
  file.write_at_start(bytes);
  file.close();
}

template <Record R>
void read_record_file(std::u16string_view path, R& record) {
  auto file = platform::BinaryFile::open_read_write(path);
  const std::vector<uint8_t> bytes = file.read_from_start();
  file.close();
  decode_record(bytes, record);
}

template void write_record_file<EmailMsg>(std::u16string_view, const EmailMsg&);
template void write_record_file<MsgContents>(std::u16string_view, const MsgContents&);
template void write_record_file<EmailLesson>(std::u16string_view, const EmailLesson&);
template void read_record_file<EmailMsg>(std::u16string_view, EmailMsg&);
template void read_record_file<MsgContents>(std::u16string_view, MsgContents&);
template void read_record_file<EmailLesson>(std::u16string_view, EmailLesson&);

}  // namespace corvane
