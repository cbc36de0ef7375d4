// The README's code blocks, run as a reader would run them.
//
// Each fenced block has, on the line before it, the setting it runs in: <!-- readme-check: SETTING -->.
// The test starts that setting itself (on ephemeral ports, which replace 8090 and 8091 in the lines),
// runs each command of the block through bash from the source folder, and compares what it prints with
// the answer kAnswers gives for it. curl lines get their HTTP status appended as a last line. A block
// without a setting, a command without an answer and an answer whose command left the README all fail,
// so a new block joins by naming its setting and adding its commands' answers below.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"

namespace {

using GoxHostTest::ChildProcess;
using std::chrono::milliseconds;

constexpr const char* kMarker = "<!-- readme-check: ";
constexpr int kNoStatus = 0;  // the command is not a curl call: its exit status is compared instead

// Settings whose blocks other checks run: scripts/run's test runs its lines, scripts/test builds both
// presets with the day-to-day commands.
const std::set<std::string> kRunElsewhere = {"scripts-run", "scripts-test"};

struct Answer {
  const char* setting;
  const char* command;  // as in the README, without its trailing comment
  int httpStatus;       // kNoStatus for other commands
  const char* output;   // the body (or standard output)
  bool whole;           // the output is exactly this, not merely containing it
  int exitStatus = 0;
};

const Answer kAnswers[] = {
    {"gox-host", "curl -sN localhost:8090/events", kNoStatus, R"("phase":"ChampSelect")", false},
    {"gox-host", "curl -s localhost:8090/gox-loadouts/v1/enabled", 200, "true", true},
    {"gox-host", "curl -s localhost:8090/openapi.json", 200, R"({"openapi":"3.0.3")", false},
    {"gox-host",
     R"(curl -s -X PUT -d '{"phase":"ChampSelect","gameData":{"queue":{"isTeamBuilderManaged":true}}}' )"
     "localhost:8090/admin/resources/gox-gameflow/v1/session",
     200, R"({"uri":"/gox-gameflow/v1/session","eventType":"Update"})", true},
    {"gox-host", "curl -s -X DELETE localhost:8090/admin/resources/gox-login/v1/session", 200,
     R"({"uri":"/gox-login/v1/session","eventType":"Delete"})", true},
    {"gox-host", "curl -s localhost:8090/admin/game-customization", 200, "[", false},
    {"gox-host", "curl -s -X POST localhost:8090/admin/modules/gox-loadouts/reload", 200,
     R"("name":"gox-loadouts","outcome":"reloaded")", false},
    {"gox-host", "curl -s localhost:8090/admin/modules", 200, R"("loads":2,"loadedAt":")", false},

    {"gox-services-and-gox-host", "curl -s 'localhost:8090/gox-loadouts/v1/inventory?inventoryTypes='", 200,
     R"({"inventoryType":"EMOTE","itemId":10})", false},
    {"gox-services-and-gox-host",
     R"(curl -s -X POST -H 'content-type: application/json' -d '{"EMOTE":[10]}' )"
     "localhost:8090/gox-loadouts/v2/items/1",
     204, "", true},
    {"gox-services-and-gox-host", "curl -s localhost:8090/gox-loadouts/v2/items/1/EMOTE", 200, "[10]", true},
    {"gox-services-and-gox-host", "curl -s localhost:8090/gox-loadouts/v2/items/1/BANNER", 204, "", true},
    {"gox-services-and-gox-host",
     "curl -s -X POST -d '' localhost:8090/gox-loadouts/v1/sendItemsToDuviRidaze/1", 204, "", true},

    {"gox-services", "curl -s localhost:8091/admin/game-customization", 200, "[]", true},
    {"gox-services", R"(curl -s -X PUT -d '{"mode":"slow","delayMs":3000}' localhost:8091/admin/fault)", 200,
     R"({"mode":"slow","delayMs":3000,)", false},
    {"gox-services",
     R"(curl -s -X PUT -d '{"mode":"error","status":500,"body":"down"}' localhost:8091/admin/fault)", 200,
     R"("status":500,"body":"down")", false},
    {"gox-services", R"(curl -s -X PUT -d '{"mode":"malformed","count":1}' localhost:8091/admin/fault)", 200,
     R"("count":1)", false},
    {"gox-services", R"(curl -s -X PUT -d '{"mode":"close","path":"/loadouts/"}' localhost:8091/admin/fault)",
     200, R"({"mode":"close",)", false},
    {"gox-services", "curl -s -X DELETE localhost:8091/admin/fault", 204, "", true},

    {"build", R"(echo '{"b":1,"a":[true]}' | build/default/gox-codec encode --to json)", kNoStatus,
     R"({"a":[true],"b":1})"
     "\n",
     true},
    {"build", "printf 'EMOTE: [10' | build/default/gox-codec decode --from yaml", kNoStatus, "", true, 1},
    {"build", "build/default/gox-codec decode --from json /nonexistent", kNoStatus, "", true, 2},
};

struct Block {
  std::string setting;  // empty when the block names none
  int line = 0;         // of the opening fence
  std::string text;
  std::vector<std::string> commands;  // continuations joined, comments and blank lines left out
};

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The command of a line without its trailing comment (two spaces or more, then "#").
std::string WithoutComment(const std::string& line) {
  static const std::regex comment(R"(\s{2,}#.*$)");
  return std::regex_replace(line, comment, "");
}

std::vector<Block> CodeBlocks(const std::string& readme) {
  std::vector<Block> blocks;
  std::istringstream lines(readme);
  std::string line;
  std::string previous;
  Block* open = nullptr;
  std::string pending;  // a command continued with a backslash
  for (int number = 1; std::getline(lines, line); ++number) {
    if (open == nullptr) {
      if (line.starts_with("```")) {
        Block block;
        block.line = number;
        if (previous.starts_with(kMarker) && previous.ends_with(" -->"))
          block.setting =
              previous.substr(std::string(kMarker).size(), previous.size() - std::string(kMarker).size() - 4);
        blocks.push_back(std::move(block));
        open = &blocks.back();
      }
      if (!line.empty()) previous = line;
      continue;
    }
    if (line.starts_with("```")) {
      open = nullptr;
      previous.clear();
      continue;
    }
    open->text += line + "\n";
    if (line.empty() || line.starts_with("#")) continue;
    // A continued line joins the next one with a single space, as the shell sees them.
    if (!pending.empty()) line.erase(0, line.find_first_not_of(' '));
    if (line.ends_with("\\")) {
      line.pop_back();
      pending += line.substr(0, line.find_last_not_of(' ') + 1) + " ";
      continue;
    }
    open->commands.push_back(WithoutComment(pending + line));
    pending.clear();
  }
  return blocks;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string BuildDir() {
  const std::string host = GOX_HOST_PATH;
  return host.substr(0, host.rfind('/'));
}

// The processes of a setting, started on ephemeral ports, and a README line as it runs against them.
class Setting {
 public:
  explicit Setting(const std::string& name) {
    const bool services = name == "gox-services" || name == "gox-services-and-gox-host";
    const bool host = name == "gox-host" || name == "gox-services-and-gox-host";
    if (services) {
      services_ = std::make_unique<ChildProcess>(GOX_SERVICES_PATH,
                                                 std::vector<std::string>{"--listen", "127.0.0.1:0"});
      servicesPort_ = GoxHostTest::PortAfter(services_->ReadLine(milliseconds(20000)),
                                             "gox-services listening on http://127.0.0.1:");
      starts_.insert("build/default/gox-services &");
    }
    if (host) {
      std::vector<std::string> arguments = {"--listen", "127.0.0.1:0"};
      if (services)
        arguments.insert(arguments.end(),
                         {"--services-url", "http://127.0.0.1:" + std::to_string(servicesPort_)});
      host_ = std::make_unique<ChildProcess>(GOX_HOST_PATH, arguments);
      hostPort_ = GoxHostTest::PortAfter(host_->ReadLine(milliseconds(20000)),
                                         "gox-host listening on http://127.0.0.1:");
      starts_.insert("build/default/gox-host &");
    }
  }

  [[nodiscard]] bool Ready() const { return (!services_ || servicesPort_ > 0) && (!host_ || hostPort_ > 0); }
  [[nodiscard]] bool Starts(const std::string& command) const { return starts_.contains(command); }
  [[nodiscard]] std::string Logs() const {
    return (services_ ? services_->ErrorOutput() : "") + (host_ ? host_->ErrorOutput() : "");
  }

  // `command` as bash runs it here: from the source folder, on this setting's ports and build folder,
  // with every curl call bounded in time and followed by its HTTP status.
  [[nodiscard]] std::unique_ptr<ChildProcess> Start(const std::string& command) const {
    std::string line = Replaced(command, "localhost:8090", "127.0.0.1:" + std::to_string(hostPort_));
    line = Replaced(line, "localhost:8091", "127.0.0.1:" + std::to_string(servicesPort_));
    line = Replaced(line, "build/default/", BuildDir() + "/");
    const std::string prelude = "cd '" + std::string(GOX_SOURCE_DIR) +
                                "' && curl() { command curl --max-time 10 -w '\\n%{http_code}' \"$@\"; }\n";
    return std::make_unique<ChildProcess>("/bin/bash", std::vector<std::string>{"-c", prelude + line});
  }

 private:
  std::unique_ptr<ChildProcess> services_;
  std::unique_ptr<ChildProcess> host_;
  int servicesPort_ = 0;
  int hostPort_ = 0;
  std::set<std::string> starts_;
};

void ExpectAnswer(const Answer& answer, const std::string& printed, int exitStatus) {
  std::string output = printed;
  if (answer.httpStatus != kNoStatus) {
    const std::size_t last = output.rfind('\n');
    const std::string status = last == std::string::npos ? output : output.substr(last + 1);
    output = last == std::string::npos ? "" : output.substr(0, last);
    EXPECT_EQ(status, std::to_string(answer.httpStatus)) << answer.command << "\n" << printed;
  }
  if (answer.whole) {
    EXPECT_EQ(output, answer.output) << answer.command;
  } else {
    EXPECT_NE(output.find(answer.output), std::string::npos) << answer.command << "\n" << output;
  }
  EXPECT_EQ(exitStatus, answer.exitStatus) << answer.command;
}

class ReadmeTest : public ::testing::Test {
 protected:
  const std::vector<Block> blocks_ = CodeBlocks(ReadFile(std::string(GOX_SOURCE_DIR) + "/README.md"));
};

TEST_F(ReadmeTest, EveryBlockNamesItsSettingAndEveryCommandHasItsAnswer) {
  ASSERT_FALSE(blocks_.empty());
  std::set<std::string> inReadme;
  for (const Block& block : blocks_) {
    EXPECT_FALSE(block.setting.empty()) << "README.md:" << block.line << ": a code block without a setting";
    for (const std::string& command : block.commands)
      inReadme.insert(block.setting + "\n" + command);
  }
  std::set<std::string> answered;
  for (const Answer& answer : kAnswers) {
    const std::string key = std::string(answer.setting) + "\n" + answer.command;
    answered.insert(key);
    EXPECT_TRUE(inReadme.contains(key)) << "no longer in the README: " << answer.command;
  }
  for (const Block& block : blocks_) {
    if (kRunElsewhere.contains(block.setting) || block.setting.starts_with("gox-host-")) continue;
    for (const std::string& command : block.commands) {
      const bool start = command.starts_with("build/default/gox-") && command.ends_with(" &");
      EXPECT_TRUE(start || answered.contains(block.setting + "\n" + command))
          << "README.md:" << block.line << ": no answer for " << command;
    }
  }
}

TEST_F(ReadmeTest, CommandsAnswerAsTheReadmeSaysInTheirSetting) {
  std::map<std::string, std::vector<const Block*>> bySetting;
  for (const Block& block : blocks_)
    if (!kRunElsewhere.contains(block.setting) && !block.setting.starts_with("gox-host-"))
      bySetting[block.setting].push_back(&block);
  std::map<std::string, const Answer*> answers;
  for (const Answer& answer : kAnswers)
    answers[std::string(answer.setting) + "\n" + answer.command] = &answer;

  for (const auto& [name, blocks] : bySetting) {
    SCOPED_TRACE(name);
    const Setting setting(name);
    ASSERT_TRUE(setting.Ready()) << setting.Logs();
    // Streams (curl -N) run beside the other lines and are read at the end.
    std::vector<std::pair<const Answer*, std::unique_ptr<ChildProcess>>> streams;
    for (const Block* block : blocks)
      for (const std::string& command : block->commands)
        if (command.find(" -sN ") != std::string::npos && answers.contains(name + "\n" + command))
          streams.emplace_back(answers[name + "\n" + command], setting.Start(command));
    if (!streams.empty()) std::this_thread::sleep_for(milliseconds(300));

    for (const Block* block : blocks) {
      for (const std::string& command : block->commands) {
        if (command.starts_with("build/default/gox-") && command.ends_with(" &")) {
          EXPECT_TRUE(setting.Starts(command)) << name << " does not start: " << command;
          continue;
        }
        const auto found = answers.find(name + "\n" + command);
        if (found == answers.end() || command.find(" -sN ") != std::string::npos) continue;
        const auto run = setting.Start(command);
        const std::string printed = run->ReadAll(milliseconds(15000));
        ExpectAnswer(*found->second, printed, run->Wait(milliseconds(15000)));
      }
    }
    for (auto& [answer, stream] : streams) {
      std::string printed;
      for (int i = 0; i < 100 && printed.find(answer->output) == std::string::npos; ++i)
        printed += stream->ReadLine(milliseconds(50)) + "\n";
      EXPECT_NE(printed.find(answer->output), std::string::npos) << answer->command << "\n" << printed;
    }
  }
}

// gox-host prints the ready line the README shows, with the port it got.
TEST_F(ReadmeTest, TheReadyLineAndTheFixturesAreGoxHostsOwn) {
  for (const Block& block : blocks_) {
    if (block.setting == "gox-host-ready-line") {
      ChildProcess host(GOX_HOST_PATH, {"--listen", "127.0.0.1:0"});
      const std::string ready = host.ReadLine(milliseconds(20000));
      const std::string shown = block.text.substr(0, block.text.find('\n'));
      ASSERT_TRUE(shown.ends_with(":8090")) << shown;
      EXPECT_EQ(ready.substr(0, ready.rfind(':')), shown.substr(0, shown.rfind(':')));
    } else if (block.setting == "gox-host-fixtures") {
      const std::string path =
          ::testing::TempDir() + "readme-fixtures-" + std::to_string(block.line) + ".json";
      { std::ofstream(path) << block.text; }
      ChildProcess host(GOX_HOST_PATH, {"--listen", "127.0.0.1:0", "--fixtures", path});
      const std::string ready = host.ReadLine(milliseconds(20000));
      EXPECT_TRUE(ready.starts_with("gox-host listening on ")) << host.ErrorOutput();
      std::remove(path.c_str());
    }
  }
}

}  // namespace
