#include "unit/Options.h"

#include <gtest/gtest.h>

namespace kestrel::sim::test {
namespace {

CommandLine parse(std::vector<std::string_view> args) { return parseCommandLine(args); }

TEST(CommandLine, DefaultsAnswerPromptlyWithNoFaults) {
  const auto cl = parse({});
  EXPECT_TRUE(cl.error.empty());
  EXPECT_FALSE(cl.help);
  EXPECT_EQ(cl.options.protocol, "buffered");
  EXPECT_EQ(cl.options.answerDelay.count(), 5);
  EXPECT_EQ(cl.options.nakEvery, 0u);
  EXPECT_EQ(cl.options.playTime.count(), 0);
  EXPECT_FALSE(cl.options.silent);
  EXPECT_TRUE(cl.options.strayBytes.empty());
  EXPECT_TRUE(cl.options.record.empty());
  EXPECT_EQ(cl.options.byteGap.count(), 0);
  EXPECT_EQ(cl.options.badCheckEvery, 0u);
  EXPECT_FALSE(cl.options.report);
  EXPECT_FALSE(cl.options.badReport);
  EXPECT_EQ(cl.options.trapAfter, 0u);
  EXPECT_TRUE(cl.options.schedule.empty());
  EXPECT_FALSE(cl.options.corruptCheck);
  EXPECT_FALSE(cl.options.dropStx);
  EXPECT_EQ(cl.options.extraChannel, 0u);
  EXPECT_TRUE(cl.options.changeFields.empty());
}

TEST(CommandLine, EveryOptionLands) {
  const auto cl = parse({"--protocol",
                         "mode1",
                         "--delay",
                         "0",
                         "--nak-every",
                         "3",
                         "--play-time",
                         "250",
                         "--silent",
                         "--stray",
                         "41,0d",
                         "--stray-every",
                         "2",
                         "--stray-once",
                         "--record",
                         "-",
                         "--byte-gap",
                         "20",
                         "--bad-check-every",
                         "4",
                         "--report",
                         "--bad-report",
                         "--trap-after",
                         "5",
                         "--schedule",
                         "card/a.wmj",
                         "--corrupt-check",
                         "--drop-stx",
                         "--extra-channel",
                         "256",
                         "--change-field",
                         "7:5:a:b,c",
                         "--change-field",
                         "1000:1:"});
  ASSERT_TRUE(cl.error.empty()) << cl.error;
  EXPECT_EQ(cl.options.protocol, "mode1");
  EXPECT_EQ(cl.options.answerDelay.count(), 0);
  EXPECT_EQ(cl.options.nakEvery, 3u);
  EXPECT_EQ(cl.options.playTime.count(), 250);
  EXPECT_TRUE(cl.options.silent);
  EXPECT_EQ(cl.options.strayBytes, (Bytes{0x41, 0x0D}));
  EXPECT_EQ(cl.options.strayEvery, 2u);
  EXPECT_TRUE(cl.options.strayOnce);
  EXPECT_EQ(cl.options.record, "-");
  EXPECT_EQ(cl.options.byteGap.count(), 20);
  EXPECT_EQ(cl.options.badCheckEvery, 4u);
  EXPECT_TRUE(cl.options.report);
  EXPECT_TRUE(cl.options.badReport);
  EXPECT_EQ(cl.options.trapAfter, 5u);
  EXPECT_EQ(cl.options.schedule, "card/a.wmj");
  EXPECT_TRUE(cl.options.corruptCheck);
  EXPECT_TRUE(cl.options.dropStx);
  EXPECT_EQ(cl.options.extraChannel, 256u);
  EXPECT_EQ(cl.options.changeFields, (std::vector<FieldChange>{{7, 5, "a:b,c"}, {1000, 1, ""}}));
}

TEST(CommandLine, EveryProtocolIsKnown) {
  for (const auto& name : protocolNames()) {
    const auto cl = parse({"--protocol", name});
    EXPECT_TRUE(cl.error.empty()) << name;
    EXPECT_EQ(cl.options.protocol, name);
    EXPECT_NE(usage("sim").find(name + ':'), std::string::npos) << name;
  }
}

TEST(CommandLine, StrayAloneGoesBeforeEveryAnswer) {
  const auto cl = parse({"--stray", "4142"});
  ASSERT_TRUE(cl.error.empty()) << cl.error;
  EXPECT_EQ(cl.options.strayBytes, (Bytes{0x41, 0x42}));
  EXPECT_EQ(cl.options.strayEvery, 1u);
  EXPECT_FALSE(cl.options.strayOnce);
}

TEST(CommandLine, StrayOnceAloneDoesNotAlsoRepeat) {
  const auto cl = parse({"--stray", "41", "--stray-once"});
  ASSERT_TRUE(cl.error.empty()) << cl.error;
  EXPECT_EQ(cl.options.strayEvery, 0u);
  EXPECT_TRUE(cl.options.strayOnce);
}

TEST(CommandLine, HelpIsRecognised) {
  EXPECT_TRUE(parse({"--help"}).help);
  EXPECT_TRUE(parse({"-h"}).help);
  EXPECT_NE(usage("sim").find("--stray-every"), std::string::npos);
}

TEST(CommandLine, BadArgumentsAreRefused) {
  const std::vector<std::vector<std::string_view>> bad = {
      {"--protocol", "other"},
      {"--protocol"},
      {"--delay", "-1"},
      {"--delay", "5ms"},
      {"--nak-every"},
      {"--nak-every", "x"},
      {"--stray", "4"},
      {"--stray", "4G"},
      {"--stray", ","},
      {"--stray-every", "2"},
      {"--stray-once"},
      {"--record"},
      {"--record", ""},
      {"--verbose"},
      {"extra"},
      {"--protocol", "MODE1"},
      {"--protocol", "mode2"},
      {"--play-time"},
      {"--play-time", "-1"},
      {"--play-time", "0.5"},
      {"--byte-gap"},
      {"--byte-gap", "x"},
      {"--bad-check-every"},
      {"--bad-check-every", "-2"},
      {"--trap-after"},
      {"--trap-after", "1k"},
      {"--report", "1"},
      {"--schedule"},
      {"--schedule", ""},
      {"--extra-channel", "-1"},
      {"--change-field"},
      {"--change-field", "7"},
      {"--change-field", "7:5"},
      {"--change-field", "7:0:x"},
      {"--change-field", "7:6:x"},
      {"--change-field", "0:1:x"},
      {"--change-field", "x:1:x"},
      {"--change-field", ":1:x"},
      {"--drop-stx", "1"},
  };
  for (const auto& args : bad) {
    std::string joined;
    for (auto a : args) joined += std::string(a) + ' ';
    EXPECT_FALSE(parse(args).error.empty()) << joined;
  }
}

}  // namespace
}  // namespace kestrel::sim::test
