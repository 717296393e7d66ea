// A download that can be continued: the bytes so far live in "<target>.part", and a small
// record beside them, "<target>.part.info", says what they belong to (the identity the caller
// gives, the expected size and hash) and which version of the server's file they are (its
// strong ETag, else its Last-Modified). The next request asks for the rest with Range and
// If-Range; any doubt starts the file over from byte 0. The target appears only once the whole
// file is on disk and checked.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/Transfer.h"

namespace zarn::net {

class PartialDownload : public Sink {
 public:
  // size: the exact length when known (negative: not known); sha256: hex, empty when not known.
  PartialDownload(std::string target, std::string identity, int64_t size, std::string sha256);
  ~PartialDownload() override;
  PartialDownload(const PartialDownload&) = delete;
  PartialDownload& operator=(const PartialDownload&) = delete;

  // Told when a reply's body starts (total: the whole file's length, 0 when not known) and
  // after each piece is on disk (done: bytes of the whole file on disk).
  std::function<void(int64_t total)> onOpened;
  std::function<void(int64_t done, int64_t total)> onWritten;

  // Before each request: looks at what is on disk and opens the partial file. A partial that
  // is not a plain file, or whose record does not match, is removed and started over. false:
  // the local file cannot be used (Error()).
  bool Prepare();
  // Where the next request continues (0: from the start).
  int64_t Offset() const { return m_offset; }
  // The Range and If-Range lines for the next request; none when it starts from 0.
  std::vector<std::string> RequestHeaders() const;

  Take Begin(const ReplyHead& head) override;
  bool Write(std::string_view bytes) override;
  void End(bool discard) override;

  // After a request:
  // the server's answer means the partial cannot be continued (416, a Content-Range that does
  // not start where asked, another validator): it has been emptied, the next request starts
  // from 0.
  bool StartedOver() const { return m_startedOver; }
  // More arrived than the reply announced or the file may hold, or the server's length is not
  // the expected one: nothing was written past the limit; the file is wrong.
  bool TooLong() const { return m_tooLong; }
  bool SizeDiffers() const { return m_sizeDiffers; }
  int Error() const { return m_error; }  // errno of the local files, 0 when none
  int64_t Done() const { return m_done; }
  int64_t Total() const { return m_total; }

  // The whole file is on disk: 0 when its length (and hash, when known) are right, else
  // which differs (sizeError or hashError).
  int Check(int sizeError, int hashError);
  // Moves the checked file to the target and removes the record; false: Error() says why.
  bool Commit();
  // Removes the partial file and its record.
  void Discard();

  const std::string& PartPath() const { return m_partPath; }

 private:
  bool WriteRecord(const std::string& validator);
  void Close();

  std::string m_target, m_partPath, m_infoPath;
  std::string m_recordHead;  // the record up to the validator line
  int64_t m_size;
  std::string m_sha256;
  int m_fd = -1;
  std::string m_validator;  // of the bytes on disk; empty: none known
  int64_t m_offset = 0;
  int64_t m_done = 0;
  int64_t m_total = 0;
  int64_t m_limit = -1;  // the body may not take the file beyond this; negative: no limit
  bool m_startedOver = false;
  bool m_tooLong = false;
  bool m_sizeDiffers = false;
  int m_error = 0;
};

// A validator of a reply head that If-Range can carry: the strong ETag, else Last-Modified;
// empty when there is neither.
std::string ReplyValidator(const std::string& rawHead);
// The value of the first header line of that name (case-insensitive), blanks trimmed;
// empty when there is none.
std::string HeaderValue(const std::string& rawHead, std::string_view name);

}  // namespace zarn::net
