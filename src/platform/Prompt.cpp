#include "platform/Prompt.h"

#include <mutex>

#include "util/Debug.h"

namespace zarn {
namespace {
std::mutex g_mutex;
PromptHandler g_handler;
}  // namespace

int MessageBox(const std::string& text, const std::string& caption, unsigned type) {
  PromptHandler handler;
  {
    std::lock_guard lock(g_mutex);
    handler = g_handler;
  }
  if (handler) return handler(PromptRequest{text, caption, type});
  DebugOutput("[" + caption + "] " + text);
  return (type & 0xF) == MB_OKCANCEL ? IDCANCEL : IDOK;
}

void SetPromptHandler(PromptHandler handler) {
  std::lock_guard lock(g_mutex);
  g_handler = std::move(handler);
}

}  // namespace zarn
