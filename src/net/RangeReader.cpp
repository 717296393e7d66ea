#include "net/RangeReader.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "net/Transfer.h"

namespace zarn::net {
namespace {

constexpr uint64_t kTail = 64 * 1024;     // first fetch: the end of the archive
constexpr uint64_t kBlock = 16 * 1024;    // an unhinted read fetches at least this much
constexpr uint64_t kPiece = 1024 * 1024;  // a hinted span is fetched in pieces of this
constexpr size_t kCacheCap = 8 * 1024 * 1024;

// The body of a 206 reply whose Content-Range is exactly the range asked for.
class RangeSink : public Sink {
 public:
  RangeSink(uint64_t from, uint64_t length) : from_(from), length_(length) {}
  Take Begin(const ReplyHead& head) override {
    ok_ = false;
    if (head.status != 206) return Take::NoBody;
    // "Content-Range: bytes <first>-<last>/<total>", any case of the name.
    std::string lower = head.raw;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    const size_t at = lower.find("\ncontent-range:");
    if (at == std::string::npos) return Take::NoBody;
    uint64_t first = 0, last = 0;
    char totalText[32] = {0};
    if (std::sscanf(lower.c_str() + at + 15, " bytes %" SCNu64 "-%" SCNu64 "/%31[0-9*]", &first, &last,
                    totalText) != 3)
      return Take::NoBody;
    total_ = std::strtoull(totalText, nullptr, 10);
    if (first != from_ || last < first || last - first + 1 != length_) return Take::NoBody;
    expected_ = last - first + 1;
    ok_ = true;
    return Take::Body;
  }
  bool Write(std::string_view bytes) override {
    if (body_.size() + bytes.size() > expected_) return false;
    body_.append(bytes);
    return true;
  }
  bool Complete() const { return ok_ && body_.size() == expected_; }
  uint64_t total() const { return total_; }
  std::string& body() { return body_; }

 private:
  uint64_t from_, length_;
  uint64_t expected_ = 0, total_ = 0;
  bool ok_ = false;
  std::string body_;
};

voidpf OpenStream(voidpf opaque, const void*, int mode) {
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
  return opaque;
}

}  // namespace

RangeReader::RangeReader(std::string url, const std::atomic<bool>* cancel)
    : url_(std::move(url)), cancel_(cancel) {}

bool RangeReader::Fetched(uint64_t from, uint64_t length, std::string* body) {
  if (failed_ || (cancel_ && cancel_->load())) {
    failed_ = true;
    return false;
  }
  TransferOptions options;
  options.url = url_;
  char range[80];
  std::snprintf(range, sizeof range, "Range: bytes=%" PRIu64 "-%" PRIu64, from, from + length - 1);
  options.headers.push_back(range);
  // Ranges of a compressed transfer would be of the compressed bytes.
  options.headers.push_back("Accept-Encoding: identity");
  RangeSink sink(from, length);
  Transfer transfer(options);
  const TransferResult result = transfer.Run(sink);
  fetched_ += sink.body().size();
  if (result.code != CURLE_OK || !sink.Complete() || (size_ && sink.total() != size_)) {
    failed_ = true;
    return false;
  }
  if (!size_) size_ = sink.total();
  *body = std::move(sink.body());
  return true;
}

bool RangeReader::Open() {
  // The suffix range's reply names the first byte it holds: accepted whatever it is, then
  // checked against the total.
  TransferOptions options;
  std::string body;
  char range[64];
  std::snprintf(range, sizeof range, "Range: bytes=-%" PRIu64, kTail);
  options.url = url_;
  options.headers = {range, "Accept-Encoding: identity"};
  class TailSink : public Sink {
   public:
    Take Begin(const ReplyHead& head) override {
      if (head.status != 206) return Take::NoBody;
      std::string lower = head.raw;
      std::transform(lower.begin(), lower.end(), lower.begin(),
                     [](unsigned char c) { return std::tolower(c); });
      const size_t at = lower.find("\ncontent-range:");
      if (at == std::string::npos ||
          std::sscanf(lower.c_str() + at + 15, " bytes %" SCNu64 "-%" SCNu64 "/%" SCNu64, &first, &last,
                      &total) != 3 ||
          last < first || last + 1 != total || last - first + 1 > kTail)
        return Take::NoBody;
      ok = true;
      return Take::Body;
    }
    bool Write(std::string_view bytes) override {
      if (body.size() + bytes.size() > last - first + 1) return false;
      body.append(bytes);
      return true;
    }
    bool ok = false;
    uint64_t first = 0, last = 0, total = 0;
    std::string body;
  } sink;
  const TransferResult result = Transfer(options).Run(sink);
  fetched_ += sink.body.size();
  if (result.code != CURLE_OK || !sink.ok || sink.body.size() != sink.last - sink.first + 1) {
    failed_ = true;
    return false;
  }
  size_ = sink.total;
  cached_ += sink.body.size();
  cache_[sink.first] = std::move(sink.body);
  return true;
}

void RangeReader::Hint(uint64_t offset, uint64_t length) {
  hintFrom_ = offset;
  hintTo_ = offset + length;
}

bool RangeReader::Fetch(uint64_t from, uint64_t to) {
  // Never again what is cached: stop at the next cached span.
  const auto next = cache_.upper_bound(from);
  if (next != cache_.end()) to = std::min(to, next->first);
  to = std::min(to, size_);
  if (to <= from) return false;
  std::string body;
  if (!Fetched(from, to - from, &body)) return false;
  if (cached_ + body.size() > kCacheCap) {
    cache_.clear();
    cached_ = 0;
  }
  cached_ += body.size();
  cache_[from] = std::move(body);
  return true;
}

bool RangeReader::Read(uint64_t offset, void* out, size_t n) {
  char* dest = static_cast<char*>(out);
  if (failed_ || offset + n > size_) return false;
  while (n > 0) {
    auto it = cache_.upper_bound(offset);
    if (it != cache_.begin()) {
      --it;
      const uint64_t end = it->first + it->second.size();
      if (offset < end) {
        const size_t take = static_cast<size_t>(std::min<uint64_t>(n, end - offset));
        std::memcpy(dest, it->second.data() + (offset - it->first), take);
        dest += take;
        offset += take;
        n -= take;
        continue;
      }
    }
    uint64_t to = offset + std::max<uint64_t>(n, kBlock);
    if (offset >= hintFrom_ && offset < hintTo_)
      to = std::max<uint64_t>(offset + n, std::min(hintTo_, offset + kPiece));
    if (!Fetch(offset, to)) {
      failed_ = true;
      return false;
    }
  }
  return true;
}

zlib_filefunc64_def RangeReader::FileFunctions() {
  zlib_filefunc64_def f{};
  f.opaque = this;
  f.zopen64_file = OpenStream;
  f.zread_file = [](voidpf opaque, voidpf, void* buf, uLong size) -> uLong {
    auto* self = static_cast<RangeReader*>(opaque);
    const uint64_t available = self->position_ < self->size_ ? self->size_ - self->position_ : 0;
    const uLong n = static_cast<uLong>(std::min<uint64_t>(size, available));
    if (n == 0 || !self->Read(self->position_, buf, n)) return 0;
    self->position_ += n;
    return n;
  };
  f.zwrite_file = [](voidpf, voidpf, const void*, uLong) -> uLong { return 0; };
  f.ztell64_file = [](voidpf opaque, voidpf) -> ZPOS64_T {
    return static_cast<RangeReader*>(opaque)->position_;
  };
  f.zseek64_file = [](voidpf opaque, voidpf, ZPOS64_T offset, int origin) -> long {
    auto* self = static_cast<RangeReader*>(opaque);
    uint64_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR)
      base = self->position_;
    else if (origin == ZLIB_FILEFUNC_SEEK_END)
      base = self->size_;
    const uint64_t target = base + offset;
    if (target > self->size_) return -1;
    self->position_ = target;
    return 0;
  };
  f.zclose_file = [](voidpf, voidpf) -> int { return 0; };
  f.zerror_file = [](voidpf opaque, voidpf) -> int {
    return static_cast<RangeReader*>(opaque)->failed_ ? 1 : 0;
  };
  return f;
}

}  // namespace zarn::net
