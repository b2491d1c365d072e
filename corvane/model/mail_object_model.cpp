#include "corvane/model/mail_object_model.h"

#include <utility>

namespace corvane {

MailObjectModel::MailObjectModel()
    : MailObjectModel(make_stderr_presenter(), make_portable_font_factory()) {}

MailObjectModel::MailObjectModel(std::shared_ptr<Presenter> presenter,
                                 std::shared_ptr<FontFactory> fonts)
    : presenter_(std::move(presenter)), fonts_(std::move(fonts)) {}

}  // namespace corvane
