// The agent identifier of this installation: [agent] "1033" of ClientConfig.cfg, at most 255
// bytes. Read by the work page; used by the recharge address, the game command line and the
// registration request.
#pragma once

#include <string>

namespace zarn {
std::string GetAgentId();
void SetAgentId(std::string id);
}  // namespace zarn
