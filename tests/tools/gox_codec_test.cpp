#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs gox-codec with `arguments`, feeding `input` on standard input.
Outcome RunCodec(const std::string& arguments, const std::string& input) {
  const std::string base = ::testing::TempDir() + "gox_codec_" + std::to_string(::getpid());
  { std::ofstream(base + ".in", std::ios::binary) << input; }
  const std::string command = std::string(GOX_CODEC_PATH) + " " + arguments + " < " + base + ".in > " + base +
                              ".out 2> " + base + ".err";
  Outcome outcome;
  const int raw = std::system(command.c_str());
  outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  auto slurp = [](const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
  };
  outcome.out = slurp(base + ".out");
  outcome.err = slurp(base + ".err");
  for (const char* suffix : {".in", ".out", ".err"})
    std::remove((base + suffix).c_str());
  return outcome;
}

TEST(GoxCodecTest, DecodesEachFormatOrReportsItsFailure) {
  struct Case {
    const char* arguments;
    std::string input;
    int status;
    const char* out;
    const char* err;
  };
  const Case cases[] = {
      {"decode --from json", R"({"b":[1,-2],"a":true})", 0,
       "{\n    \"a\": true,\n    \"b\": [\n        1,\n        -2\n    ]\n}\n", ""},
      {"decode --from yaml", "a: 1\nb: [x, 2.5]\n", 0,
       "{\n    \"a\": 1,\n    \"b\": [\n        \"x\",\n        2.5\n    ]\n}\n", ""},
      {"decode --from msgpack", std::string("\x81\xa1\x61\xc3", 4), 0, "{\n    \"a\": true\n}\n", ""},
      {"decode --from json", "[1,]", 1, "", "Error: Invalid value. at offset 3.\n"},
      {"decode --from yaml", "a: *nowhere\n", 1, "",
       "Undefined alias encountered: \"nowhere\". At line: 1 col: 4\n"},
      {"decode --from msgpack", std::string("\xda\x00", 2), 1, "",
       "Invalid MessagePack data. 16-bit integer value at position 1 is truncated.\n"},
      {"decode --from msgpack", std::string("\x01\x02", 2), 1, "",
       "Extra data after the MessagePack value at position 1.\n"},
      {"encode --to json", "{ \"b\" : 1, \"a\" : [ ] }", 0, "{\"a\":[],\"b\":1}\n", ""},
      {"encode --to json --pretty", "{\"a\":{}}", 0, "{\n    \"a\": {}\n}\n", ""},
      {"decode --from xml", "", 2, "", nullptr},
      {"encode --to yaml", "", 2, "", nullptr},
      {"decode --from json /nonexistent/file", "", 2, "", "Cannot read /nonexistent/file.\n"},
      {"", "", 2, "", nullptr},
      {"--help", "", 0,
       "usage: gox-codec decode --from json|msgpack|yaml [FILE]\n"
       "       gox-codec encode --to json [--pretty] [FILE]\n",
       ""},
  };
  for (const Case& c : cases) {
    const Outcome outcome = RunCodec(c.arguments, c.input);
    EXPECT_EQ(outcome.status, c.status) << c.arguments << " < " << c.input;
    EXPECT_EQ(outcome.out, c.out) << c.arguments << " < " << c.input;
    if (c.err != nullptr) {
      EXPECT_EQ(outcome.err, c.err) << c.arguments << " < " << c.input;
    } else {
      EXPECT_NE(outcome.err.find("usage: gox-codec"), std::string::npos) << c.arguments;
    }
  }
}

}  // namespace
