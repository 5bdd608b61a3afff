#include "platform/http/curl_http_sender.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string_view>

namespace corvantis::http {
namespace {

// How often a running transfer looks at its cancel flag.
constexpr int kPollMs = 50;

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

// Detaches the easy handle before either handle is cleaned up, as libcurl requires.
class MultiAttachment {
 public:
  MultiAttachment(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {
    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
      throw HttpError(HttpError::Reason::kTransport, "curl_multi_add_handle failed");
    }
  }
  ~MultiAttachment() { curl_multi_remove_handle(multi_, easy_); }
  MultiAttachment(const MultiAttachment&) = delete;
  MultiAttachment& operator=(const MultiAttachment&) = delete;

 private:
  CURLM* multi_;
  CURL* easy_;
};

void GlobalInitOnce() {
  static std::once_flag once;
  static CURLcode result = CURLE_OK;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
  if (result != CURLE_OK) {
    throw HttpError(HttpError::Reason::kTransport,
                    std::string("curl_global_init failed: ") + curl_easy_strerror(result));
  }
}

bool IsToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 32 && u < 127 && c != ':' && c != '(' && c != ')' && c != ',' && c != ';';
  });
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != text.npos; }

void Check(CURLcode code, const char* what) {
  if (code != CURLE_OK) {
    throw HttpError(HttpError::Reason::kTransport,
                    std::string(what) + ": " + curl_easy_strerror(code));
  }
}

void Append(SlistPtr& list, const std::string& line) {
  curl_slist* head = curl_slist_append(list.get(), line.c_str());
  if (head == nullptr) {
    throw HttpError(HttpError::Reason::kTransport, "out of memory for headers");
  }
  static_cast<void>(list.release());
  list.reset(head);
}

SlistPtr BuildHeaders(const HttpRequest& request) {
  SlistPtr list;
  bool hasContentType = false;
  bool hasExpect = false;
  for (const auto& [name, value] : request.Headers) {
    if (!IsToken(name) || HasLineBreak(value)) {
      throw HttpError(HttpError::Reason::kBadRequest, "invalid header: " + name);
    }
    hasContentType = hasContentType || EqualsIgnoreCase(name, "Content-Type");
    hasExpect = hasExpect || EqualsIgnoreCase(name, "Expect");
    // libcurl drops "Name:" lines; "Name;" is its way to send an empty value.
    Append(list, value.empty() ? name + ";" : name + ": " + value);
  }
  // A blank value removes the header libcurl would otherwise add on its own.
  if (!hasExpect) Append(list, "Expect:");
  if (!hasContentType) Append(list, "Content-Type:");
  return list;
}

HttpError::Reason ReasonFor(CURLcode code) {
  switch (code) {
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL: return HttpError::Reason::kBadRequest;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return HttpError::Reason::kConnect;
    case CURLE_OPERATION_TIMEDOUT: return HttpError::Reason::kTimeout;
    default: return HttpError::Reason::kTransport;
  }
}

// Header fields kept per answer; a server cannot make us hold more.
constexpr size_t kMaxHeaderBytes = 64 * 1024;

struct Received {
  HttpResponse* Response;
  bool BodyCut = false;
  size_t HeaderBytes = 0;
};

size_t WriteBody(char* data, size_t size, size_t count, void* userdata) {
  auto& received = *static_cast<Received*>(userdata);
  std::string& body = received.Response->Body;
  const size_t length = size * count;
  const size_t room = kMaxResponseBodyBytes - body.size();
  body.append(data, std::min(length, room));
  if (length <= room) return length;
  // Anything but the full length ends the transfer; Send tells this cut from a failure.
  received.BodyCut = true;
  return 0;
}

std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == text.npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// libcurl hands over every header line of every answer it reads: a proxy's CONNECT answer and
// interim 1xx answers come before the final one, each starting with its status line.
size_t WriteHeader(char* data, size_t size, size_t count, void* userdata) {
  auto& received = *static_cast<Received*>(userdata);
  auto& headers = received.Response->Headers;
  const size_t length = size * count;
  const std::string_view line(data, length);
  if (line.starts_with("HTTP/")) {
    headers.clear();
    received.HeaderBytes = 0;
    return length;
  }
  if (received.HeaderBytes + length > kMaxHeaderBytes) return length;
  received.HeaderBytes += length;
  if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
    // An obsolete folded continuation of the previous field.
    if (!headers.empty() && !Trimmed(line).empty()) {
      headers.back().second += " ";
      headers.back().second += Trimmed(line);
    }
    return length;
  }
  const size_t colon = line.find(':');
  if (colon != line.npos && colon > 0) {
    headers.emplace_back(std::string(line.substr(0, colon)),
                         std::string(Trimmed(line.substr(colon + 1))));
  }
  return length;
}

// Where the request goes and how long it may take.
void SetTarget(CURL* e, const HttpRequest& request) {
  if (curl_easy_setopt(e, CURLOPT_URL, request.Url.c_str()) != CURLE_OK) {
    throw HttpError(HttpError::Reason::kBadRequest, "invalid URL: " + request.Url);
  }
#if LIBCURL_VERSION_NUM >= 0x075500
  Check(curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https"), "CURLOPT_PROTOCOLS_STR");
#else
  Check(curl_easy_setopt(e, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS)),
        "CURLOPT_PROTOCOLS");
#endif
  if (request.ConnectTimeoutMs > 0) {
    Check(curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, request.ConnectTimeoutMs),
          "CURLOPT_CONNECTTIMEOUT_MS");
  }
  if (request.TotalTimeoutMs > 0) {
    Check(curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, request.TotalTimeoutMs), "CURLOPT_TIMEOUT_MS");
  }
}

void SetMethodAndBody(CURL* e, const HttpRequest& request) {
  if (request.Method == "GET") {
    Check(curl_easy_setopt(e, CURLOPT_HTTPGET, 1L), "CURLOPT_HTTPGET");
  } else if (request.Method == "HEAD") {
    Check(curl_easy_setopt(e, CURLOPT_NOBODY, 1L), "CURLOPT_NOBODY");
  } else {
    // POSTFIELDS with an explicit size also sends an empty body as "Content-Length: 0".
    Check(curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE,
                           static_cast<curl_off_t>(request.Body.size())),
          "CURLOPT_POSTFIELDSIZE_LARGE");
    Check(curl_easy_setopt(e, CURLOPT_POSTFIELDS, request.Body.c_str()), "CURLOPT_POSTFIELDS");
    if (request.Method != "POST") {
      Check(curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, request.Method.c_str()),
            "CURLOPT_CUSTOMREQUEST");
    }
  }
}

// Runs the transfer of `e` to its end and returns libcurl's result for it. The multi interface
// lets the loop look at the cancel flag between short polls.
CURLcode Perform(CURL* e, const std::atomic<bool>* cancel) {
  const MultiPtr multi(curl_multi_init());
  if (!multi) throw HttpError(HttpError::Reason::kTransport, "curl_multi_init failed");
  const MultiAttachment attachment(multi.get(), e);
  for (;;) {
    int running = 0;
    CURLMcode status = curl_multi_perform(multi.get(), &running);
    if (status != CURLM_OK) {
      throw HttpError(HttpError::Reason::kTransport, curl_multi_strerror(status));
    }
    if (running == 0) break;
    if (cancel != nullptr && cancel->load()) {
      throw HttpError(HttpError::Reason::kCancelled, "request cancelled");
    }
    status = curl_multi_poll(multi.get(), nullptr, 0, kPollMs, nullptr);
    if (status != CURLM_OK) {
      throw HttpError(HttpError::Reason::kTransport, curl_multi_strerror(status));
    }
  }
  CURLcode result = CURLE_OK;
  int remaining = 0;
  while (CURLMsg* message = curl_multi_info_read(multi.get(), &remaining)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == e) result = message->data.result;
  }
  return result;
}

}  // namespace

CurlHttpSender::CurlHttpSender() { GlobalInitOnce(); }

HttpResponse CurlHttpSender::Send(const HttpRequest& request) {
  if (!IsToken(request.Method)) {
    throw HttpError(HttpError::Reason::kBadRequest, "invalid method: " + request.Method);
  }
  HttpResponse response;
  char errorText[CURL_ERROR_SIZE] = {};
  const SlistPtr headers = BuildHeaders(request);
  const EasyPtr easy(curl_easy_init());
  if (!easy) throw HttpError(HttpError::Reason::kTransport, "curl_easy_init failed");
  CURL* e = easy.get();

  Check(curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText), "CURLOPT_ERRORBUFFER");
  Check(curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L), "CURLOPT_NOSIGNAL");
  SetTarget(e, request);
  SetMethodAndBody(e, request);
  Check(curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get()), "CURLOPT_HTTPHEADER");
  Received received{&response};
  Check(curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &WriteBody), "CURLOPT_WRITEFUNCTION");
  Check(curl_easy_setopt(e, CURLOPT_WRITEDATA, &received), "CURLOPT_WRITEDATA");
  Check(curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &WriteHeader), "CURLOPT_HEADERFUNCTION");
  Check(curl_easy_setopt(e, CURLOPT_HEADERDATA, &received), "CURLOPT_HEADERDATA");

  CURLcode result = Perform(e, request.Cancel);
  if (result == CURLE_WRITE_ERROR && received.BodyCut) result = CURLE_OK;
  if (result != CURLE_OK) {
    throw HttpError(ReasonFor(result), std::string(curl_easy_strerror(result)) +
                                           (errorText[0] != '\0' ? ": " : "") + errorText);
  }
  Check(curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &response.Status), "CURLINFO_RESPONSE_CODE");
  return response;
}

}  // namespace corvantis::http
