#include "net/Transfer.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <optional>

#include "net/CurlSupport.h"
#include "util/FileWrite.h"

namespace zarn::net {

namespace {

// A Content-Length value longer than this is not read further.
constexpr size_t kLengthTextMax = 1000;

// The leading decimal digits of a header value (after blanks); 0 when there are none.
int64_t LeadingNumber(std::string_view text) {
  text = text.substr(0, kLengthTextMax);
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value > (INT64_MAX - 9) / 10) return INT64_MAX;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

bool StartsWithNoCase(std::string_view text, std::string_view lowerPrefix) {
  if (text.size() < lowerPrefix.size()) return false;
  for (size_t i = 0; i < lowerPrefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lowerPrefix[i]) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

struct UrlCloser {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

std::optional<std::string> UrlPart(CURLU* url, CURLUPart part, unsigned flags) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, flags) != CURLUE_OK) return std::nullopt;
  std::string value(text);
  curl_free(text);
  return value;
}

}  // namespace

// One attempt of a transfer, as libcurl's callbacks see it.
struct Attempt {
  const TransferOptions* options = nullptr;
  CURL* curl = nullptr;
  Sink* sink = nullptr;
  const std::vector<Validator*>* validators = nullptr;

  ReplyHead head;
  std::string location;  // of the latest reply
  bool anyHeader = false;
  bool finalHeadDone = false;
  bool bodyWanted = false;
  bool redirectRefused = false;
  bool bodyDropped = false;  // a redirect turned the request into a GET
  bool bodyRefused = false;
  bool sinkStopped = false;
  bool rejected = false;
  bool paused = false;  // held by options->admit

  // The stall watchdog: any byte moving either way, or a header or body piece, is activity.
  bool watching = false;
  bool stalled = false;
  curl_off_t seenDown = -1, seenUp = -1;
  std::chrono::steady_clock::time_point lastActivity = std::chrono::steady_clock::now();

  void Touch() { lastActivity = std::chrono::steady_clock::now(); }

  // The head of a final reply is complete: decide about the redirect and the body.
  bool HeadComplete() {
    finalHeadDone = true;
    // libcurl follows 301, 302 and 303 with a GET: the body is not sent again after them.
    if (!location.empty() && head.status >= 301 && head.status <= 303) bodyDropped = true;
    if (options->redirects == RedirectPolicy::KeepBodyWithinOrigin && options->postBody && !bodyDropped &&
        (head.status == 307 || head.status == 308) && !location.empty()) {
      char* effective = nullptr;
      curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective);
      if (!SameOrigin(effective ? effective : "", location)) {
        redirectRefused = true;
        return false;
      }
    }
    switch (sink->Begin(head)) {
      case Sink::Take::Body:
        bodyWanted = true;
        for (Validator* v : *validators) v->Begin(head);
        return true;
      case Sink::Take::NoBody:
        return true;
      case Sink::Take::Abort:
        sinkStopped = true;
        return false;
    }
    return false;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* a = static_cast<Attempt*>(user);
    const size_t bytes = size * count;
    a->Touch();
    a->anyHeader = true;
    std::string_view line(data, bytes);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.starts_with("HTTP/")) {
      // A new reply begins (after an interim one or a followed redirect).
      a->head = ReplyHead{};
      a->location.clear();
      a->finalHeadDone = false;
      a->bodyWanted = false;
    } else if (StartsWithNoCase(line, "content-length:")) {
      a->head.hasLength = true;
      a->head.announced = LeadingNumber(line.substr(15));
    } else if (StartsWithNoCase(line, "location:")) {
      a->location = TrimBlanks(line.substr(9));
    }
    a->head.raw.append(line);
    a->head.raw.append("\r\n");
    if (!line.empty()) return bytes;
    curl_easy_getinfo(a->curl, CURLINFO_RESPONSE_CODE, &a->head.status);
    if (a->head.status < 200) return bytes;  // interim: the real reply is still to come
    return a->HeadComplete() ? bytes : CURL_WRITEFUNC_ERROR;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* a = static_cast<Attempt*>(user);
    const size_t bytes = size * count;
    a->Touch();
    if (!a->bodyWanted) {
      a->bodyRefused = true;
      return CURL_WRITEFUNC_ERROR;
    }
    if (a->options->admit && !a->options->admit(bytes)) {
      a->paused = true;
      return CURL_WRITEFUNC_PAUSE;  // libcurl hands the same piece again after Unpause
    }
    const std::string_view piece(data, bytes);
    if (!a->sink->Write(piece)) {
      a->sinkStopped = true;
      return CURL_WRITEFUNC_ERROR;
    }
    for (Validator* v : *a->validators) {
      if (!v->Feed(piece)) {
        a->rejected = true;
        return CURL_WRITEFUNC_ERROR;
      }
    }
    return bytes;
  }

  static int OnProgress(void* user, curl_off_t, curl_off_t downNow, curl_off_t, curl_off_t upNow) {
    auto* a = static_cast<Attempt*>(user);
    if (!a->watching) {
      curl_off_t connectTime = 0;
      if (curl_easy_getinfo(a->curl, CURLINFO_CONNECT_TIME_T, &connectTime) != CURLE_OK || connectTime == 0)
        return 0;  // still connecting: the connect time-out governs
      a->watching = true;
      a->Touch();
    }
    // Bodies of followed redirects reach no callback; they count here.
    if (downNow != a->seenDown || upNow != a->seenUp) {
      a->seenDown = downNow;
      a->seenUp = upNow;
      a->Touch();
      return 0;
    }
    if (std::chrono::steady_clock::now() - a->lastActivity > a->options->stallLimit) {
      a->stalled = true;
      return 1;  // libcurl ends the transfer
    }
    return 0;
  }
};

Sink::Take MemorySink::Begin(const ReplyHead&) {
  m_body.clear();
  m_full = false;
  return Take::Body;
}

bool MemorySink::Write(std::string_view bytes) {
  const size_t room = m_cap - m_body.size();
  m_body.append(bytes.data(), std::min(room, bytes.size()));
  if (bytes.size() > room) {
    m_full = true;
    return false;
  }
  return true;
}

FileSink::~FileSink() {
  if (m_fd >= 0) ::close(m_fd);
}

Sink::Take FileSink::Begin(const ReplyHead& head) {
  // Only the final reply 200 opens (and truncates) the file; replies that libcurl follows or
  // that end the transfer leave it alone.
  if (head.status != 200) return Take::NoBody;
  if (m_opened) return Take::Body;
  if (m_path.find('\0') != std::string::npos) {
    m_error = EINVAL;
    return Take::Abort;
  }
  m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (m_fd < 0) {
    m_error = errno ? errno : EIO;
    return Take::Abort;
  }
  m_opened = true;
  if (onOpened) onOpened(head);
  return Take::Body;
}

bool FileSink::Write(std::string_view bytes) {
  int error = 0;
  const size_t written = WriteBytes(m_fd, bytes, -1, &error);
  if (error != 0) m_error = error;
  if (written > 0) {
    m_done += static_cast<int64_t>(written);
    if (onWritten) onWritten(m_done);
  }
  return m_error == 0;
}

void FileSink::End(bool discard) {
  if (m_fd >= 0) {
    if (::close(m_fd) != 0 && m_error == 0) m_error = errno ? errno : EIO;
    m_fd = -1;
  }
  // Bytes known to be wrong must not be taken for the file later.
  if (discard && m_opened) ::unlink(m_path.c_str());
}

void AnnouncedLengthValidator::Begin(const ReplyHead& head) {
  m_hasLength = head.hasLength;
  m_announced = head.announced;
  m_seen = 0;
}

bool AnnouncedLengthValidator::Feed(std::string_view bytes) {
  m_seen += static_cast<int64_t>(bytes.size());
  return true;
}

Verdict AnnouncedLengthValidator::Finish() {
  if (m_hasLength && m_seen != m_announced) return Verdict{CURLE_PARTIAL_FILE, false};
  return {};
}

bool ExpectedSizeValidator::Feed(std::string_view bytes) {
  m_seen += static_cast<int64_t>(bytes.size());
  return m_seen <= m_size;
}

Verdict ExpectedSizeValidator::Finish() {
  if (m_seen != m_size) return Verdict{m_error, true};
  return {};
}

struct ExpectedSha256Validator::Digest {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  bool ok = context && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1;
  ~Digest() { EVP_MD_CTX_free(context); }
};

ExpectedSha256Validator::ExpectedSha256Validator(std::string hex, int error)
    : m_hex(std::move(hex)), m_error(error), m_digest(std::make_unique<Digest>()) {
  std::transform(m_hex.begin(), m_hex.end(), m_hex.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
}

ExpectedSha256Validator::~ExpectedSha256Validator() = default;

bool ExpectedSha256Validator::Feed(std::string_view bytes) {
  if (m_digest->ok) m_digest->ok = EVP_DigestUpdate(m_digest->context, bytes.data(), bytes.size()) == 1;
  return true;
}

Verdict ExpectedSha256Validator::Finish() {
  static const char kHex[] = "0123456789abcdef";
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  // A hash that could not be computed cannot vouch for the bytes either.
  if (!m_digest->ok || EVP_DigestFinal_ex(m_digest->context, digest, &length) != 1)
    return Verdict{m_error, true};
  m_digest->ok = false;
  std::string hex;
  for (unsigned i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0xF];
  }
  if (hex != m_hex) return Verdict{m_error, true};
  return {};
}

bool SameOrigin(const std::string& from, const std::string& location) {
  std::unique_ptr<CURLU, UrlCloser> base(curl_url()), target(curl_url());
  if (!base || !target) return false;
  // A relative location is resolved against the address already set.
  if (curl_url_set(base.get(), CURLUPART_URL, from.c_str(), 0) != CURLUE_OK ||
      curl_url_set(target.get(), CURLUPART_URL, from.c_str(), 0) != CURLUE_OK ||
      curl_url_set(target.get(), CURLUPART_URL, location.c_str(), 0) != CURLUE_OK)
    return false;
  for (const CURLUPart part : {CURLUPART_SCHEME, CURLUPART_HOST, CURLUPART_PORT}) {
    const auto a = UrlPart(base.get(), part, CURLU_DEFAULT_PORT);
    const auto b = UrlPart(target.get(), part, CURLU_DEFAULT_PORT);
    if (!a || !b || ::strcasecmp(a->c_str(), b->c_str()) != 0) return false;
  }
  return true;
}

// What one transfer carries from Begin to Finish.
struct Transfer::Live {
  Sink* sink = nullptr;
  std::vector<Validator*> validators;
  std::unique_ptr<curl_slist, CurlListCloser> headers;
  Attempt attempt;
  char errorBuffer[CURL_ERROR_SIZE] = {};
  TransferResult result;
  CURLcode code = CURLE_OK;
  bool failedEarly = false;
};

Transfer::Transfer(TransferOptions options) : m_options(std::move(options)) {
  EnsureCurlReady();
  m_curl = curl_easy_init();
}

Transfer::~Transfer() {
  if (m_curl) curl_easy_cleanup(m_curl);
}

void Transfer::Apply(Attempt& attempt, curl_slist* headers, char* errorBuffer) {
  const TransferOptions& o = m_options;
  CURL* curl = m_curl;
  // No signals: transfers also run on the download worker's thread.
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  if (o.http10) curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  // https is spoken over TLS with the system's certificate store, never unchecked. Proxies
  // come from the environment (http_proxy, https_proxy, no_proxy), as libcurl reads them.
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (o.pathAsIs) curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
  if (o.freshConnection) {
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
  }
  curl_easy_setopt(curl, CURLOPT_URL, o.url.c_str());
  if (o.postBody) {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, o.postBody->data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(o.postBody->size()));
  } else {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  }
  curl_easy_setopt(curl, CURLOPT_USERAGENT, o.userAgent.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  if (o.connectTimeout.count() > 0)
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(o.connectTimeout.count()));
  if (o.bufferSize > 0) curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, o.bufferSize);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Attempt::OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &attempt);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Attempt::OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &attempt);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Attempt::OnProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &attempt);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
}

bool Transfer::Paused() const { return m_live && m_live->attempt.paused; }

void Transfer::Unpause() {
  if (!Paused()) return;
  m_live->attempt.paused = false;
  m_live->attempt.Touch();
  curl_easy_pause(m_curl, CURLPAUSE_CONT);
}

TransferResult Transfer::Run(Sink& sink, const std::vector<Validator*>& validators) {
  if (Begin(sink, validators)) {
    while (Again(curl_easy_perform(m_curl))) {
    }
  }
  return Finish();
}

void Transfer::StartAttempt() {
  Live& live = *m_live;
  curl_easy_reset(m_curl);
  live.attempt = Attempt{};
  live.attempt.options = &m_options;
  live.attempt.curl = m_curl;
  live.attempt.sink = live.sink;
  live.attempt.validators = &live.validators;
  live.attempt.watching = !m_options.stallFromConnect;
  live.errorBuffer[0] = '\0';
  Apply(live.attempt, live.headers.get(), live.errorBuffer);
  ++live.result.attempts;
}

bool Transfer::Begin(Sink& sink, const std::vector<Validator*>& validators) {
  m_live = std::make_unique<Live>();
  Live& live = *m_live;
  live.sink = &sink;
  live.validators = validators;
  if (!m_curl) {
    live.code = CURLE_FAILED_INIT;
    live.failedEarly = true;
    return false;
  }
  for (const std::string& line : m_options.headers) {
    curl_slist* grown = curl_slist_append(live.headers.get(), line.c_str());
    if (!grown) {
      live.code = CURLE_OUT_OF_MEMORY;
      live.failedEarly = true;
      return false;
    }
    (void)live.headers.release();
    live.headers.reset(grown);
  }
  StartAttempt();
  return true;
}

bool Transfer::Again(CURLcode code) {
  Live& live = *m_live;
  const Attempt& a = live.attempt;
  if (a.stalled) code = CURLE_OPERATION_TIMEDOUT;
  if (a.redirectRefused) code = CURLE_COULDNT_CONNECT;
  live.code = code;
  // Only a connection that could not be made is tried again, and only while no server has
  // answered at all: a request that reached a server is never sent twice.
  const bool unreached = code == CURLE_COULDNT_CONNECT || code == CURLE_OPERATION_TIMEDOUT ||
                         (m_options.retryNameLookup &&
                          (code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_RESOLVE_PROXY));
  if (unreached && !a.anyHeader && !a.stalled && live.result.attempts <= m_options.connectRetries) {
    StartAttempt();
    return true;
  }
  return false;
}

TransferResult Transfer::Finish() {
  Live& live = *m_live;
  TransferResult result = std::move(live.result);
  const CURLcode code = live.code;
  result.code = code;
  if (live.failedEarly) {
    result.errorText = curl_easy_strerror(code);
    live.sink->End(false);
    return result;
  }
  Attempt& a = live.attempt;
  curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &result.status);
  result.head = std::move(a.head);
  result.anyHeader = a.anyHeader;
  result.finalHeadDone = a.finalHeadDone;
  result.stalled = a.stalled;
  result.redirectRefused = a.redirectRefused;
  result.bodyRefused = a.bodyRefused;
  result.sinkStopped = a.sinkStopped;
  result.rejected = a.rejected;
  if (code != CURLE_OK) {
    if (a.stalled)
      result.errorText =
          "nothing sent or received for " + std::to_string(m_options.stallLimit.count()) + " ms";
    else if (a.redirectRefused)
      result.errorText = "redirect with the request body to another origin not followed: " + a.location;
    else
      result.errorText = live.errorBuffer[0] ? live.errorBuffer : curl_easy_strerror(code);
  }
  // The validators judge a body that was read to its end, or that one of them refused.
  if (a.bodyWanted && (code == CURLE_OK || a.rejected)) {
    for (Validator* v : live.validators) {
      const Verdict verdict = v->Finish();
      if (result.verdict.error == 0) result.verdict.error = verdict.error;
      result.verdict.discard = result.verdict.discard || verdict.discard;
    }
  }
  live.sink->End(result.verdict.discard);
  return result;
}

}  // namespace zarn::net
