// ExternalTransport: how the stand-in performs the module's HTTP requests to outside servers.
//
// The host core never lets the module open connections; HostApi.externalRequest hands each request to
// the transport installed in the HostCore. Tests install a ScriptedTransport; a real host program
// installs one that speaks HTTP.

#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace GoxHost {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// An outside request as the module sent it.
struct ExternalCall {
  std::uint32_t method = 0;
  std::string url;
  HeaderList headers;
  std::string body;
  std::uint32_t value = 0;  // passed through from the record
  std::uint32_t flag = 0;   // passed through from the record
};

// The transport's answer: result 0 is success; any other code names a failure (-1 "could not
// connect"), in which case `body` carries the failure text.
struct ExternalResult {
  std::int32_t result = 0;
  std::int32_t status = 200;
  HeaderList headers;
  std::string body;
  // A broken host: the record carries the header count (or the body length) with a null pointer.
  bool nullHeaders = false;
  bool nullBody = false;
};

// Performs outside requests; called on the plugin thread, synchronously.
class ExternalTransport {
 public:
  virtual ~ExternalTransport() = default;
  [[nodiscard]] virtual ExternalResult Send(const ExternalCall& call) = 0;
};

// A transport that records every call and answers from a queue of scripted results; with the queue
// empty it answers result -1 and the text kNoScriptedAnswer.
//
//   auto transport = std::make_shared<ScriptedTransport>();
//   transport->Answer({0, 200, {{"content-type", "application/json"}}, R"({"items":[]})"});
//   core.SetTransport(transport);
class ScriptedTransport : public ExternalTransport {
 public:
  static constexpr const char* kNoScriptedAnswer = "no scripted answer";

  void Answer(ExternalResult result) { answers_.push_back(std::move(result)); }
  [[nodiscard]] ExternalResult Send(const ExternalCall& call) override;
  [[nodiscard]] const std::vector<ExternalCall>& Calls() const { return calls_; }

 private:
  std::deque<ExternalResult> answers_;
  std::vector<ExternalCall> calls_;
};

}  // namespace GoxHost
