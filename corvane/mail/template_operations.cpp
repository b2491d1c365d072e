#include "corvane/mail/template_operations.h"

#include "corvane/model/record_file.h"

namespace corvane {

Failure save_template(const Text& path, const MsgContents& contents) {
  return failure_of([&] { write_record_file(path, contents); });
}

OpenedTemplate open_template(const Text& path) {
  OpenedTemplate opened;
  opened.failure = failure_of([&] { read_record_file(path, opened.contents); });
  return opened;
}

}  // namespace corvane
