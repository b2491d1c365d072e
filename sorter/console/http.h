#pragma once
// The console's requests and responses as plain values, so that every page and action can be
// driven without a socket. The server layer fills a Request from the wire and writes the
// Response back.

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace sorter::console {

struct UploadedFile {
  std::string filename;
  std::string content;
};

struct Request {
  std::string method = "GET";
  std::string path = "/";
  std::multimap<std::string, std::string> params;  // query and url-encoded form fields (UTF-8)
  std::map<std::string, UploadedFile> files;       // multipart uploads by field name
  std::map<std::string, std::string> headers;      // names in lower case
  std::string remote_address = "127.0.0.1";
  bool secure = false;  // came over HTTPS

  // The first value of a field, if any.
  std::optional<std::string> param(std::string_view name) const;
  std::optional<std::string> header(std::string_view lower_case_name) const;
  // The value of one cookie of the Cookie header.
  std::optional<std::string> cookie(std::string_view name) const;
};

struct Response {
  int status = 200;
  std::string content_type = "text/html; charset=utf-8";
  std::string body;
  std::multimap<std::string, std::string> headers;

  static Response redirect(std::string location);
  static Response text(int status, std::string body);
};

}  // namespace sorter::console
