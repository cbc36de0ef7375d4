#include "host/external_transport.h"

namespace GoxHost {

ExternalResult ScriptedTransport::Send(const ExternalCall& call) {
  calls_.push_back(call);
  if (answers_.empty()) return ExternalResult{-1, 0, {}, kNoScriptedAnswer};
  ExternalResult result = std::move(answers_.front());
  answers_.pop_front();
  return result;
}

}  // namespace GoxHost
