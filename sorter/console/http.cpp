#include "sorter/console/http.h"

namespace sorter::console {

std::optional<std::string> Request::param(std::string_view name) const {
  const auto it = params.find(std::string(name));
  if (it == params.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> Request::header(std::string_view lower_case_name) const {
  const auto it = headers.find(std::string(lower_case_name));
  if (it == headers.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> Request::cookie(std::string_view name) const {
  const auto line = header("cookie");
  if (!line) return std::nullopt;
  std::string_view rest = *line;
  while (!rest.empty()) {
    const std::size_t end = rest.find(';');
    std::string_view pair = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    const std::size_t eq = pair.find('=');
    if (eq != std::string_view::npos && pair.substr(0, eq) == name) {
      return std::string(pair.substr(eq + 1));
    }
  }
  return std::nullopt;
}

Response Response::redirect(std::string location) {
  Response r;
  r.status = 303;
  r.headers.emplace("Location", std::move(location));
  return r;
}

Response Response::text(int status, std::string body) {
  Response r;
  r.status = status;
  r.content_type = "text/plain; charset=utf-8";
  r.body = std::move(body);
  return r;
}

}  // namespace sorter::console
