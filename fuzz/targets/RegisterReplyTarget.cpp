// The registration reply: the web service's answer body.
#include <string>

#include "FuzzSupport.h"
#include "FuzzTargets.h"
#include "register/RegisterCore.h"
#include "util/CodePage.h"

namespace zarn::fuzz {

void FuzzRegisterReply(const uint8_t* data, size_t size) {
  const std::string body(AsText(data, size));
  UnderEachCodeSet([&] {
    const RegisterReply reply = ParseRegisterReply(body);
    ZARN_FUZZ_CHECK(reply.message.size() <= 255,
                    "message of " + std::to_string(reply.message.size()) + " bytes");
    ZARN_FUZZ_CHECK(CutAnsi(reply.message, 255) == reply.message, "message cut inside a character");
    const PromptRequest box = RegisterOutcomePrompt(reply);
    if (reply.code == 200 || reply.code == 500)
      ZARN_FUZZ_CHECK(box.text == reply.message, "the outcome box does not show the service's message");
  });
}

}  // namespace zarn::fuzz
