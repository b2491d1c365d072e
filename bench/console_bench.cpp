// The store console's pages over a store with N e-mails waiting in Buffer folders (default
// 1000, spread over 25 mailboxes, each with three text boxes and a 4 KiB picture), 20 files in
// Error and a log of 2000 entries. Prints, per page, the bytes of the HTML and the median time
// of five renders (request in, response out, no socket), and the picture requests a browser
// makes for the Buffer page (one page of 50 e-mails and the counts of every mailbox, whatever
// N). Then Release all of 1000 e-mails of one Buffer into an Inbox that
// already holds 5000 files: the time the action holds the store lock.
//
//   console_bench [N]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "corvane/model/record_codec.h"
#include "platform/utf.h"
#include "sorter/console/console.h"

namespace {

namespace fs = std::filesystem;
using sorter::console::Request;
using sorter::console::Response;

constexpr double kNow = 46365.5;

void write_file(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

corvane::EmailMsg sample_mail(int i, const std::u16string& to) {
  corvane::EmailMsg m;
  m.emFrom = u"teacher";
  m.emTo = to;
  m.emSubject = u"Task " + platform::from_utf8(std::to_string(i)) + u": read chapter four";
  std::vector<corvane::MsgText> texts(3);
  for (int t = 0; t < 3; ++t) {
    texts[t].X = 240;
    texts[t].Y = 200 + 700 * t;
    texts[t].Width = 6000;
    texts[t].Height = 600;
    texts[t].Font.FontName = u"Arial";
    texts[t].Font.Size = 11;
    texts[t].Value = u"Please read chapter four and answer the questions on page 52 by Friday.";
  }
  m.emMsg.Texts = corvane::List<corvane::MsgText>::sized(0, texts);
  corvane::MsgPicture p;
  p.FileName = u"p.bmp";
  std::vector<uint8_t> bmp(4096, 0x80);
  bmp[0] = 'B';
  bmp[1] = 'M';
  p.Value = corvane::List<uint8_t>::sized(0, bmp);
  m.emMsg.Pictures = corvane::List<corvane::MsgPicture>::sized(0, {p});
  return m;
}

fs::path make_store(int n) {
  const fs::path root = fs::temp_directory_path() / ("console-bench-" + std::to_string(::getpid()));
  fs::create_directories(root / "MailBank");
  fs::create_directories(root / "Error");
  for (int b = 0; b < 25; ++b) {
    const fs::path box = root / "MailBox" / ("pupil" + std::to_string(b));
    fs::create_directories(box / "Inbox");
    fs::create_directories(box / "Buffer");
  }
  for (int i = 0; i < n; ++i) {
    const std::string user = "pupil" + std::to_string(i % 25);
    write_file(root / "MailBox" / user / "Buffer" / ("mail" + std::to_string(i) + ".eml"),
               corvane::encode_record(sample_mail(i, platform::from_utf8(user))));
  }
  for (int i = 0; i < 20; ++i) {
    write_file(root / "Error" / ("lost" + std::to_string(i) + ".eml"),
               corvane::encode_record(sample_mail(i, u"nobody")));
  }
  sorter::EventLog log([] { return kNow; });
  log.StartLogging(platform::from_utf8((root / "Error" / "SortErr.log").string()),
                   sorter::LogMode::kFile);
  for (int i = 0; i < 2000; ++i) {
    log.LogEvent(u"Email sent to non-existant recipient!  From: teacher; To: nobody",
                 sorter::EventType::kWarning);
  }
  return root;
}

double median_ms(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 1000;
  const fs::path root = make_store(n);
  auto store = sorter::console::open_local_store(platform::from_utf8(root.string()));
  std::mutex lock;
  sorter::EventLog log;
  sorter::console::ConsoleOptions options;
  options.access_token = "bench";
  sorter::console::Console console(*store, lock, log, options);

  Request login;
  login.method = "POST";
  login.path = "/login";
  login.params.emplace("token", "bench");
  const std::string set_cookie = console.handle(login).headers.find("Set-Cookie")->second;
  const std::string cookie = set_cookie.substr(0, set_cookie.find(';'));

  std::printf(
      "store console pages, %d e-mails in 25 Buffer folders, 20 in Error, 2000 log "
      "entries\n%-10s %12s %12s\n",
      n, "page", "HTML bytes", "median ms");
  std::size_t pictures = 0;
  for (const char* path : {"/", "/mailboxes", "/buffer", "/errors", "/log", "/lessons"}) {
    Request r;
    r.path = path;
    r.headers["cookie"] = cookie;
    std::vector<double> times;
    Response answer;
    for (int i = 0; i < 5; ++i) {
      const auto start = std::chrono::steady_clock::now();
      answer = console.handle(r);
      times.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
    }
    std::printf("%-10s %12zu %12.1f\n", path, answer.body.size(), median_ms(times));
    if (std::string(path) == "/buffer") {
      const std::regex img("<img ");
      pictures = static_cast<std::size_t>(
          std::distance(std::sregex_iterator(answer.body.begin(), answer.body.end(), img),
                        std::sregex_iterator()));
    }
  }
  Request css;
  css.path = "/style.css";
  std::printf("/style.css %12zu (cached by the browser for an hour)\n",
              console.handle(css).body.size());
  std::printf("the Buffer page asks for %zu pictures (loaded lazily, as they scroll into view)\n",
              pictures);
  // Release all into a full Inbox.
  const fs::path school = root / "MailBox" / "school";
  fs::create_directories(school / "Inbox");
  fs::create_directories(school / "Buffer");
  constexpr int kInboxFiles = 5000, kReleased = 1000;
  for (int i = 0; i < kInboxFiles; ++i) {
    write_file(school / "Inbox" / ("old" + std::to_string(i) + ".eml"), {1, 2, 3});
  }
  for (int i = 0; i < kReleased; ++i) {
    write_file(school / "Buffer" / ("new" + std::to_string(i) + ".eml"), {4, 5, 6});
  }
  Request buffer;
  buffer.path = "/buffer";
  buffer.params.emplace("box", "school");
  buffer.headers["cookie"] = cookie;
  std::smatch token;
  const std::string form = console.handle(buffer).body;
  if (!std::regex_search(form, token, std::regex("name=\"csrf\" value=\"([^\"]+)\""))) {
    std::fprintf(stderr, "no form token on the Buffer page\n");
    return 1;
  }
  Request release;
  release.method = "POST";
  release.path = "/buffer/release-all";
  release.headers["cookie"] = cookie;
  release.params.emplace("box", "school");
  release.params.emplace("csrf", token[1].str());
  const auto start = std::chrono::steady_clock::now();
  const Response released = console.handle(release);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::size_t moved = 0;
  for (const auto& e : fs::directory_iterator(school / "Inbox")) {
    moved += e.path().filename().string().rfind("new", 0) == 0;
  }
  std::printf("Release all: %zu of %d e-mails into an Inbox of %d files in %.1f ms (answer %d)\n",
              moved, kReleased, kInboxFiles, ms, released.status);
  fs::remove_all(root);
  return 0;
}
