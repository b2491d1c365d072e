#include "sorter/console/console.h"

#include <exception>

#include "platform/clock.h"
#include "platform/utf.h"
#include "sorter/console/assets.h"
#include "sorter/console/console_impl.h"
#include "sorter/console/html.h"

namespace sorter::console {
namespace {

constexpr const char* kCookie = "corvane_console";

using Handler = Response (Console::Impl::*)(Call&);

struct Route {
  const char* method;
  const char* path;
  Handler handler;
};

constexpr Route kRoutes[] = {
    {"GET", "/", &Console::Impl::overview},
    {"GET", "/mailboxes", &Console::Impl::mailboxes_page},
    {"GET", "/buffer", &Console::Impl::buffer_page},
    {"GET", "/picture", &Console::Impl::picture},
    {"GET", "/errors", &Console::Impl::errors_page},
    {"GET", "/log", &Console::Impl::log_page},
    {"GET", "/lessons", &Console::Impl::lessons_page},
    {"POST", "/logout", &Console::Impl::logout},
    {"POST", "/monitoring", &Console::Impl::set_monitoring},
    {"POST", "/mailboxes/clear-flag", &Console::Impl::clear_flag},
    {"POST", "/buffer/release", &Console::Impl::release},
    {"POST", "/buffer/release-all", &Console::Impl::release_all},
    {"POST", "/buffer/reject", &Console::Impl::reject},
    {"POST", "/buffer/reject-all", &Console::Impl::reject_all},
    {"POST", "/buffer/discard", &Console::Impl::discard},
    {"POST", "/errors/retry", &Console::Impl::retry},
    {"POST", "/errors/delete", &Console::Impl::remove_error},
    {"POST", "/lessons/show", &Console::Impl::show_lesson},
    {"POST", "/lessons/import", &Console::Impl::import_lesson},
};

void add_safety_headers(Response& r) {
  r.headers.emplace("Content-Security-Policy",
                    "default-src 'none'; img-src 'self'; style-src 'self' 'unsafe-inline'; "
                    "script-src 'self'; form-action 'self'; frame-ancestors 'none'; "
                    "base-uri 'none'");
  r.headers.emplace("X-Content-Type-Options", "nosniff");
  r.headers.emplace("X-Frame-Options", "DENY");
  r.headers.emplace("Referrer-Policy", "no-referrer");
  if (r.headers.find("Cache-Control") == r.headers.end()) {
    r.headers.emplace("Cache-Control", "no-store");
  }
}

// A request from another site: its Origin, when the browser sends one, names another host.
// Under "Referrer-Policy: no-referrer" browsers send "Origin: null" with the console's own
// forms too; such a request counts as the console's own only when the browser says so in
// Sec-Fetch-Site (a sandboxed frame elsewhere sends "null" with "cross-site").
bool foreign_origin(const Request& request) {
  const auto origin = request.header("origin");
  if (!origin) return false;
  if (*origin == "null") return request.header("sec-fetch-site") != "same-origin";
  const auto host = request.header("host");
  const std::string scheme = request.secure ? "https://" : "http://";
  return !host || *origin != scheme + *host;
}

Response asset(const char* type, const char* body) {
  Response r;
  r.content_type = type;
  r.body = body;
  r.headers.emplace("Cache-Control", "max-age=3600");
  return r;
}

}  // namespace

std::u16string field(const Request& request, std::string_view name) {
  return platform::from_utf8(request.param(name).value_or(""));
}

std::string hidden(std::string_view name, std::u16string_view value) {
  return "<input type=\"hidden\" name=\"" + std::string(name) + "\" value=\"" + escape(value) +
         "\">";
}

std::string hidden_name(std::string_view field_name, std::u16string_view name) {
  return "<input type=\"hidden\" name=\"" + std::string(field_name) + "\" value=\"" +
         url_encode(name) + "\">";
}

std::u16string name_field(const Request& request, std::string_view field_name) {
  return url_decode(request.param(field_name).value_or(""));
}

Console::Impl::Impl(StoreAccess& s, std::mutex& l, EventLog& lg, ConsoleOptions o)
    : store(s),
      view(s),
      lock(l),
      log(lg),
      options(std::move(o)),
      sessions(options.access_token,
               options.random ? options.random : Sessions::Random([] { return random_hex(16); }),
               options.session_times),
      accounts(options.users_file) {}

bool Console::Impl::token_allowed() { return options.token_with_accounts || !accounts.any(); }

Session* Console::Impl::session_of(const Request& request) {
  const auto id = request.cookie(kCookie);
  if (!id) return nullptr;
  Session* s = sessions.find(*id, now());
  if (s && !s->teacher.empty() && !accounts.exists(s->teacher)) {
    sessions.close_teacher(s->teacher);
    return nullptr;
  }
  return s;
}

double Console::Impl::now() const {
  return options.clock ? options.clock() : platform::local_now_as_oa_date();
}

Response Console::Impl::handle(const Request& request) {
  if (request.method == "GET" && request.path == "/style.css") {
    return asset("text/css; charset=utf-8", kStyleSheet);
  }
  if (request.method == "GET" && request.path == "/refresh.js") {
    return asset("text/javascript; charset=utf-8", kRefreshScript);
  }
  if (request.method == "POST" && foreign_origin(request)) {
    return Response::text(403, "Refused: the request comes from another site.\n");
  }
  if (request.path == "/login") {
    if (request.method == "POST") return login(request);
    return login_page(request, 200, {});
  }
  const Route* route = nullptr;
  bool path_known = false;
  for (const Route& r : kRoutes) {
    if (request.path != r.path) continue;
    path_known = true;
    if (request.method == r.method) route = &r;
  }
  if (!path_known) return Response::text(404, "No such page.\n");
  if (!route) return Response::text(405, "Method not allowed.\n");

  Call call{request, session_of(request)};
  if (!call.session) {
    if (request.method == "GET") return Response::redirect("/login");
    return Response::text(403, "Not logged in: open /login and log in.\n");
  }
  if (request.method == "POST" &&
      !same_secret(request.param("csrf").value_or(""), call.session->csrf)) {
    return Response::text(403,
                          "Refused: the form's token is missing or out of date. Reload the page "
                          "and try again.\n");
  }
  try {
    return (this->*route->handler)(call);
  } catch (const std::exception& e) {
    return Response::text(500, std::string("The console failed: ") + e.what() + "\n");
  }
}

Response Console::Impl::login_page(const Request&, int status, std::string_view message) {
  Response r;
  r.status = status;
  r.body =
      "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>Store console - log "
      "in</title><meta name=\"viewport\" content=\"width=device-width\"><link rel=\"stylesheet\" "
      "href=\"/style.css\"></head><body><main class=\"login\"><h1>Store console</h1>";
  if (!message.empty()) r.body += "<p class=\"notice bad\">" + escape(message) + "</p>";
  if (const auto problem = accounts.problem()) {
    r.body += "<p class=\"notice bad\">The teachers' accounts cannot be read: " +
              escape(*problem) + "</p>";
  }
  const bool with_accounts = accounts.any();
  if (with_accounts) {
    r.body +=
        "<form method=\"post\" action=\"/login\"><label>Name <input name=\"name\" "
        "autocomplete=\"username\" autofocus required></label> <label>Password <input "
        "name=\"password\" type=\"password\" autocomplete=\"current-password\" required></label> "
        "<button>Log in</button></form>";
  }
  if (token_allowed()) {
    r.body += std::string("<form method=\"post\" action=\"/login\"><label>Access token <input "
                          "name=\"token\" type=\"password\" autocomplete=\"off\"") +
              (with_accounts ? "" : " autofocus") +
              " required></label> <button>Log in</button></form><p class=\"hint\">The token is "
              "printed when the console starts and kept in its token file.</p>";
  }
  r.body += "</main></body></html>";
  return r;
}

Response Console::Impl::login(const Request& request) {
  const std::string client = client_key(request.remote_address);
  if (const int wait = throttle.wait_seconds(client, now())) {
    Response r = login_page(request, 429,
                            "Too many failed logins from this computer: wait " +
                                std::to_string(wait) + " seconds and try again.");
    r.headers.emplace("Retry-After", std::to_string(wait));
    return r;
  }
  const auto name = request.param("name");
  std::string teacher;
  if (name) {
    if (!accounts.verify(*name, request.param("password").value_or(""))) {
      throttle.failed(client, now());
      return login_page(request, 403, "Wrong name or password.");
    }
    teacher = *name;
  } else if (!token_allowed()) {
    return login_page(request, 403, "Log in with your name and password.");
  } else if (!sessions.token_matches(request.param("token").value_or(""))) {
    throttle.failed(client, now());
    return login_page(request, 403, "That is not the console's access token.");
  }
  throttle.succeeded(client);
  Response r = Response::redirect("/");
  r.headers.emplace("Set-Cookie", std::string(kCookie) + "=" + sessions.open(now(), teacher) +
                                      "; Path=/; HttpOnly; SameSite=Strict" +
                                      (request.secure ? "; Secure" : ""));
  return r;
}

Response Console::Impl::logout(Call& call) {
  if (const auto id = call.request.cookie(kCookie)) sessions.close(*id);
  Response r = Response::redirect("/login");
  r.headers.emplace("Set-Cookie", std::string(kCookie) + "=; Path=/; HttpOnly; SameSite=Strict" +
                                      (call.request.secure ? "; Secure" : "") + "; Max-Age=0");
  return r;
}

std::string Console::Impl::form(Call& call, std::string_view action, std::string_view fields_html,
                                std::string_view button, std::string_view css_class) {
  std::string out = "<form method=\"post\" action=\"" + std::string(action) + "\"";
  if (!css_class.empty()) out += " class=\"" + std::string(css_class) + "\"";
  out += ">" + hidden("csrf", platform::from_utf8(call.session->csrf));
  out += fields_html;
  out += "<button>" + std::string(button) + "</button></form>";
  return out;
}

Response Console::Impl::page(Call& call, std::string_view title, std::string_view nav,
                             const std::string& body) {
  static constexpr std::pair<const char*, const char*> kNav[] = {
      {"/", "Overview"}, {"/mailboxes", "Mailboxes"}, {"/buffer", "Buffer"}, {"/errors", "Errors"},
      {"/log", "Log"},   {"/lessons", "Lessons"}};
  std::string out =
      "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + escape(title) +
      " - Store console</title><meta name=\"viewport\" content=\"width=device-width\">"
      "<link rel=\"stylesheet\" href=\"/style.css\"><script src=\"/refresh.js\" defer></script>"
      "</head><body><header><span class=\"brand\">Store console</span><nav>";
  for (const auto& [href, label] : kNav) {
    out += "<a href=\"" + std::string(href) + "\"";
    if (nav == href) out += " class=\"here\"";
    out += ">" + std::string(label) + "</a>";
  }
  out += "</nav>" + form(call, "/logout", "", "Log out", "logout") + "</header><main><h1>" +
         escape(title) + "</h1>";
  if (call.session->notice) {
    out += std::string("<p class=\"notice ") + (call.session->notice->ok ? "good" : "bad") +
           "\" role=\"status\">" + call.session->notice->html + "</p>";
    call.session->notice.reset();
  }
  out += body + "</main></body></html>";
  Response r;
  r.body = std::move(out);
  return r;
}

Response Console::Impl::done(Call& call, std::string location, bool ok, std::string html) {
  call.session->notice = Notice{ok, std::move(html)};
  return Response::redirect(std::move(location));
}

void Console::Impl::log_action(const Call& call, const std::u16string& text,
                               EventType type) {
  const std::string& teacher = call.session ? call.session->teacher : std::string();
  const std::string who = teacher.empty() ? call.request.remote_address
                                          : teacher + ", " + call.request.remote_address;
  log.LogEvent(u"Store console (" + platform::from_utf8(who) + u"): " + text, type);
}

Console::Console(StoreAccess& store, std::mutex& store_lock, EventLog& log, ConsoleOptions options)
    : impl_(std::make_unique<Impl>(store, store_lock, log, std::move(options))) {}

Console::~Console() = default;

Response Console::handle(const Request& request) {
  Response r = impl_->handle(request);
  add_safety_headers(r);
  return r;
}

bool Console::in_session(const Request& request) { return impl_->session_of(request) != nullptr; }

}  // namespace sorter::console
