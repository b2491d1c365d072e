#include "corvane/model/mail_object_model.h"

#include <utility>

namespace corvane {
namespace {

// OpenEmail's failure, pending for the caller on the thread that made the call.
thread_local std::optional<platform::AutomationError> pending_open_failure;

}  // namespace

void set_pending_open_failure(std::optional<platform::AutomationError> failure) {
  pending_open_failure = std::move(failure);
}

std::optional<platform::AutomationError> take_pending_open_failure() {
  return std::exchange(pending_open_failure, std::nullopt);
}

MailObjectModel::MailObjectModel()
    : MailObjectModel(make_stderr_presenter(), make_portable_font_factory()) {}

MailObjectModel::MailObjectModel(std::shared_ptr<Presenter> presenter,
                                 std::shared_ptr<FontFactory> fonts)
    : presenter_(std::move(presenter)), fonts_(std::move(fonts)) {}

}  // namespace corvane
