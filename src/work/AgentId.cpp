#include "work/AgentId.h"

#include <mutex>

namespace zarn {
namespace {
std::mutex g_mutex;
std::string g_agentId;
}  // namespace

std::string GetAgentId() {
  std::lock_guard lock(g_mutex);
  return g_agentId;
}

void SetAgentId(std::string id) {
  std::lock_guard lock(g_mutex);
  g_agentId = std::move(id);
}

}  // namespace zarn
