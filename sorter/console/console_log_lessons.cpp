// The log page and the lessons page.

#include <filesystem>
#include <fstream>
#include <system_error>

#include "corvane/lesson/lesson_display.h"
#include "corvane/object_model/mail_object_model.h"
#include "corvane/model/record_codec.h"
#include "platform/utf.h"
#include "sorter/console/console_impl.h"
#include "sorter/console/html.h"
#include "sorter/console/log_reader.h"

namespace sorter::console {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLogTailBytes = 2 * 1024 * 1024;
constexpr std::size_t kLogEntriesShown = 1000;
constexpr std::size_t kMaxLessonTextBytes = 256 * 1024;

// A folder of its own for one import, removed with everything in it at the end.
class ScratchFolder {
 public:
  ScratchFolder() : path_(fs::temp_directory_path() / ("corvane-console-" + random_hex(12))) {
    fs::create_directory(path_);  // fails when the name exists: never reuses another's folder
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::replace);
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  fs::path operator/(const char* name) const { return path_ / name; }

 private:
  fs::path path_;
};

std::u16string text_of(const fs::path& path) {
  const auto s = path.u16string();
  return std::u16string(s.begin(), s.end());
}

std::string lesson_html(const std::u16string& name, const corvane::EmailLesson& lesson) {
  std::size_t choices = 0;
  for (const auto& step : lesson.steps) choices += step.Choices.size();
  std::string text = platform::to_utf8(corvane::lesson_display_text(name, lesson));
  if (text.size() > kMaxLessonTextBytes) text = text.substr(0, kMaxLessonTextBytes) + "\n(cut)";
  return "<p>" + std::to_string(lesson.steps.size()) + " step(s), " + std::to_string(choices) +
         " choice(s).</p><pre class=\"lesson\">" + escape(text) + "</pre>";
}

std::string upload_forms(Call& call) {
  const std::string csrf = hidden("csrf", platform::from_utf8(call.session->csrf));
  return "<h2>Show a lesson file</h2><form method=\"post\" action=\"/lessons/show\" "
         "enctype=\"multipart/form-data\">" +
         csrf +
         "<input type=\"file\" name=\"lesson\" required> <button>Show</button></form>"
         "<h2>Import a lesson CSV file</h2><form method=\"post\" action=\"/lessons/import\" "
         "enctype=\"multipart/form-data\">" +
         csrf +
         "<input type=\"file\" name=\"csv\" accept=\".csv,text/csv,text/plain\" required> "
         "<button>Import</button></form><p class=\"hint\">Each line: step number, sender, "
         "subject, message. The import runs ConvertCSV2Lesson and shows its answer and the "
         "lesson it made; nothing is written into the store.</p>";
}

}  // namespace

std::string log_row(const LogEntry& entry) {
  return "<tr><td>" + escape(entry.stamp) + "</td><td class=\"type-" +
         std::to_string(static_cast<int>(entry.type)) + "\">" + event_type_name(entry.type) +
         "</td><td class=\"text\">" + escape(entry.text) + "</td></tr>";
}

Response Console::Impl::log_page(Call& call) {
  const std::string type = call.request.param("type").value_or("");
  std::vector<LogEntry> entries;
  std::string body;
  if (const auto file = view.log_file()) {
    try {
      entries = parse_log(store.read(*file, kLogTailBytes, true));
    } catch (const platform::AutomationError& e) {
      body += "<p class=\"notice bad\">The log cannot be read: " + escape(e.description()) + "</p>";
    }
  }
  body += "<p class=\"filters\">Show: ";
  static constexpr std::pair<const char*, const char*> kFilters[] = {
      {"", "all"}, {"1", "errors"}, {"2", "warnings"}, {"4", "console actions"}};
  for (const auto& [value, label] : kFilters) {
    body += std::string("<a href=\"/log") + (*value ? "?type=" + std::string(value) : "") + "\"" +
            (type == value ? " class=\"here\"" : "") + ">" + label + "</a>";
  }
  body += "</p><table class=\"log\"><tr><th>Time</th><th>Type</th><th>Text</th></tr>";
  std::size_t shown = 0;
  for (auto it = entries.rbegin(); it != entries.rend() && shown < kLogEntriesShown; ++it) {
    if (!type.empty() && std::to_string(static_cast<int>(it->type)) != type) continue;
    ++shown;
    body += log_row(*it);
  }
  body += "</table>";
  if (shown == 0) body += "<p class=\"hint\">No entries.</p>";
  return page(call, "Log", "/log", body);
}

Response Console::Impl::lessons_page(Call& call) {
  return page(call, "Lessons", "/lessons", upload_forms(call));
}

Response Console::Impl::show_lesson(Call& call) {
  const auto upload = call.request.files.find("lesson");
  std::string body;
  if (upload == call.request.files.end()) {
    body = "<p class=\"notice bad\">No lesson file was sent.</p>";
  } else {
    const std::u16string name = platform::from_utf8(upload->second.filename);
    const std::string& bytes = upload->second.content;
    corvane::EmailLesson lesson;
    try {
      corvane::decode_record(
          std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), lesson);
      body = "<h2>" + escape(name) + "</h2>" + lesson_html(name, lesson);
    } catch (const platform::AutomationError& e) {
      body = "<p class=\"notice bad\">" + escape(name) +
             " is not a lesson file: " + escape(e.description()) + "</p>";
    }
  }
  return page(call, "Lessons", "/lessons", body + upload_forms(call));
}

Response Console::Impl::import_lesson(Call& call) {
  const auto upload = call.request.files.find("csv");
  std::string body;
  if (upload == call.request.files.end()) {
    body = "<p class=\"notice bad\">No CSV file was sent.</p>";
  } else {
    const std::u16string name = platform::from_utf8(upload->second.filename);
    ScratchFolder scratch;
    const fs::path csv = scratch / "lesson.csv";
    const fs::path lesson_file = scratch / "lesson.dat";
    {
      std::ofstream out(csv, std::ios::binary);
      out.write(upload->second.content.data(),
                static_cast<std::streamsize>(upload->second.content.size()));
      if (!out) throw std::runtime_error("the uploaded CSV file could not be stored");
    }
    corvane::MailObjectModel model;
    body = "<h2>" + escape(name) + "</h2>";
    try {
      if (model.ConvertCSV2Lesson(text_of(csv), text_of(lesson_file))) {
        body += "<p class=\"notice good\">ConvertCSV2Lesson answered <b>True</b>.</p>" +
                lesson_html(name, model.OpenLesson(text_of(lesson_file)));
      } else {
        body += "<p class=\"notice bad\">ConvertCSV2Lesson answered <b>False</b>" +
                (model.ErrorString().empty()
                     ? std::string(": a line is not a lesson line (step number, sender, "
                                   "subject, message).")
                     : ": " + escape(model.ErrorString())) +
                "</p>";
      }
    } catch (const platform::AutomationError& e) {
      body += "<p class=\"notice bad\">ConvertCSV2Lesson failed with error " +
              std::to_string(e.number()) + ": " + escape(e.description()) + "</p>";
    }
  }
  return page(call, "Lessons", "/lessons", body + upload_forms(call));
}

}  // namespace sorter::console
