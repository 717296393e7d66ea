// The one transfer engine: sets up a libcurl handle (proxy from the environment, TLS
// verification, redirect policy, time-outs, stall watchdog, connect retries) and moves the body
// of the final reply into a sink, checked on the way by validators.
//
// The HTTP client, the download worker and the registration exchange are front-ends that
// choose the options, the sink and the validators, and read the result in their own terms.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zarn::net {

// The head of one reply, as far as it has arrived.
struct ReplyHead {
  long status = 0;
  bool hasLength = false;  // a Content-Length header was present
  int64_t announced = 0;   // its leading decimal digits (0 when there are none)
  std::string raw;         // the header lines as received, each ended by CR LF, status line first
};

// A validator's judgement of a body: error 0 accepts it. discard: the bytes are known to be
// wrong and must not stay where the sink put them.
struct Verdict {
  int error = 0;
  bool discard = false;
};

// Looks at every body byte of the final reply as it arrives and judges the whole at the end.
class Validator {
 public:
  virtual ~Validator() = default;
  // The head of the reply whose body follows.
  virtual void Begin(const ReplyHead& head) { (void)head; }
  // The next bytes of the body. false: the body can no longer be acceptable; the transfer ends
  // at once and Finish gives the reason.
  virtual bool Feed(std::string_view bytes) = 0;
  // After the body ended (or Feed refused it).
  virtual Verdict Finish() = 0;
};

// Where the body goes.
class Sink {
 public:
  enum class Take {
    Body,    // read the body into this sink
    NoBody,  // this reply's body is not wanted: the transfer ends at its first byte
    Abort,   // end the transfer now (the sink failed)
  };
  virtual ~Sink() = default;
  // The head of a final (not interim) reply is complete; replies that libcurl follows pass
  // here too, but their bodies never reach Write.
  virtual Take Begin(const ReplyHead& head) = 0;
  // The next bytes of the body; false ends the transfer.
  virtual bool Write(std::string_view bytes) = 0;
  // The transfer is over, for good or not. discard: a validator found the bytes wrong.
  virtual void End(bool discard) { (void)discard; }
};

// Keeps the body in memory, at most `cap` bytes: what arrives beyond stops the transfer.
class MemorySink : public Sink {
 public:
  explicit MemorySink(size_t cap) : m_cap(cap) {}
  Take Begin(const ReplyHead&) override;
  bool Write(std::string_view bytes) override;
  // More arrived than the cap holds (the body keeps its first `cap` bytes).
  bool Full() const { return m_full; }
  std::string& Body() { return m_body; }

 private:
  size_t m_cap;
  std::string m_body;
  bool m_full = false;
};

// Writes the body of a 200 reply to a local file, created (or truncated) only when such a
// reply arrives; any other status leaves the file alone. What arrived stays on disk when the
// transfer fails, unless a validator asks for it to be discarded: then the file is deleted.
class FileSink : public Sink {
 public:
  explicit FileSink(std::string path) : m_path(std::move(path)) {}
  ~FileSink() override;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  // Told after the file was opened, and after each piece was written.
  std::function<void(const ReplyHead& head)> onOpened;
  std::function<void(int64_t done)> onWritten;

  Take Begin(const ReplyHead& head) override;
  bool Write(std::string_view bytes) override;
  void End(bool discard) override;

  bool Opened() const { return m_opened; }
  int Error() const { return m_error; }  // errno of the local file, 0 when none
  int64_t Written() const { return m_done; }

 private:
  std::string m_path;
  int m_fd = -1;
  bool m_opened = false;
  int m_error = 0;
  int64_t m_done = 0;
};

// The body must be as long as the reply's Content-Length said (when it said one). A short body
// fails with libcurl's "partial file" code; what arrived is kept.
class AnnouncedLengthValidator : public Validator {
 public:
  void Begin(const ReplyHead& head) override;
  bool Feed(std::string_view bytes) override;
  Verdict Finish() override;

 private:
  bool m_hasLength = false;
  int64_t m_announced = 0;
  int64_t m_seen = 0;
};

// The body must be exactly `size` bytes; a longer one is refused as soon as it grows beyond.
class ExpectedSizeValidator : public Validator {
 public:
  ExpectedSizeValidator(int64_t size, int error) : m_size(size), m_error(error) {}
  bool Feed(std::string_view bytes) override;
  Verdict Finish() override;

 private:
  int64_t m_size;
  int m_error;
  int64_t m_seen = 0;
};

// The body's SHA-256 must be `hex` (either case), hashed while the bytes arrive.
class ExpectedSha256Validator : public Validator {
 public:
  ExpectedSha256Validator(std::string hex, int error);
  ~ExpectedSha256Validator() override;
  ExpectedSha256Validator(const ExpectedSha256Validator&) = delete;
  ExpectedSha256Validator& operator=(const ExpectedSha256Validator&) = delete;
  bool Feed(std::string_view bytes) override;
  Verdict Finish() override;

 private:
  struct Digest;
  std::string m_hex;
  int m_error;
  std::unique_ptr<Digest> m_digest;
};

enum class RedirectPolicy {
  Follow,  // every redirect, as libcurl follows them
  // A redirect that repeats the request with its body (307, 308) is followed only within the
  // origin (scheme, host and port) it was sent to; across origins the transfer ends, reported as
  // a connection that could not be made (the request never reaches the other origin). A
  // request without a body (a GET, or a POST that a 301, 302 or 303 turned into one) goes on.
  KeepBodyWithinOrigin,
};

struct TransferOptions {
  std::string url;  // as it goes to libcurl
  // POST of these bytes (not copied; must outlive Run); null: GET.
  const std::string* postBody = nullptr;
  bool http10 = false;           // HTTP/1.0 request line; else libcurl's HTTP/1.1
  bool pathAsIs = false;         // the path goes out as written ("/../" included)
  bool freshConnection = false;  // a connection of its own, closed afterwards
  std::string userAgent;
  std::vector<std::string> headers;             // extra header lines ("Name:" removes one)
  std::chrono::milliseconds connectTimeout{0};  // per attempt; 0: libcurl's own
  int connectRetries = 0;                       // further attempts when no server answered
  bool retryNameLookup = false;                 // also when the name could not be resolved
  std::chrono::milliseconds stallLimit{30000};  // nothing moving for this long ends it
  bool stallFromConnect = false;                // the stall clock starts once connected
  RedirectPolicy redirects = RedirectPolicy::Follow;
  long bufferSize = 0;  // libcurl's receive buffer, 0: its default
  // Asked before each piece of the body is taken (null: always taken). false holds the
  // transfer, the piece kept by libcurl, until Unpause: for one receive cap that several
  // transfers share.
  std::function<bool(size_t bytes)> admit;
};

struct TransferResult {
  // libcurl's code, with two of ours: a stall gives CURLE_OPERATION_TIMEDOUT and a refused
  // redirect CURLE_COULDNT_CONNECT.
  CURLcode code = CURLE_OK;
  std::string errorText;         // libcurl's description of a failure
  long status = 0;               // of the last reply
  ReplyHead head;                // of the last reply
  bool anyHeader = false;        // some server answered
  bool finalHeadDone = false;    // a non-interim reply head was complete
  bool stalled = false;          // the stall watchdog ended it
  bool redirectRefused = false;  // RedirectPolicy refused a redirect
  bool bodyRefused = false;      // the sink did not want the body of the reply that came
  bool sinkStopped = false;      // the sink's Write said stop
  bool rejected = false;         // a validator refused the body while it arrived
  Verdict verdict;               // of the validators, asked when the body was read to its end
  int attempts = 0;
};

struct Attempt;

// One request, possibly over several connect attempts. Owns its libcurl handle.
//
// Run performs it in one call. A caller that drives several transfers on one libcurl multi
// handle uses the steps instead: Begin, then (each time libcurl reports the handle done) Again
// with libcurl's code, which sets the handle up for another attempt or says it is over, then
// Finish.
class Transfer {
 public:
  explicit Transfer(TransferOptions options);
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // The libcurl handle (null when libcurl could not make one); valid until destruction.
  CURL* Handle() const { return m_curl; }
  const std::string& Url() const { return m_options.url; }

  // Runs the request; the sink gets the body of the final reply and, at the end, End().
  TransferResult Run(Sink& sink, const std::vector<Validator*>& validators = {});

  // The steps of Run. Begin: false when no request can be made at all (Finish says why);
  // sink and validators must outlive Finish. Again: true when the handle is set up for another
  // attempt (a connection that could not be made); false: the transfer is over.
  bool Begin(Sink& sink, const std::vector<Validator*>& validators);
  bool Again(CURLcode code);
  TransferResult Finish();

  // Held by TransferOptions::admit; Unpause lets it go on (the wait does not count as a stall).
  bool Paused() const;
  void Unpause();

 private:
  struct Live;
  void Apply(Attempt& attempt, curl_slist* headers, char* errorBuffer);
  void StartAttempt();

  TransferOptions m_options;
  CURL* m_curl = nullptr;
  std::unique_ptr<Live> m_live;
};

// Whether a redirect from `from` to `location` (absolute or relative) stays within the origin
// of `from`: same scheme, host and port. An address that cannot be read is another origin.
bool SameOrigin(const std::string& from, const std::string& location);

}  // namespace zarn::net
