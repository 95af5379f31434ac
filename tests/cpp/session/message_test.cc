#include "session/message.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/writer.h"
#include "support/json_test_util.h"

namespace vostrel {
namespace {

using test_support::error_of;
using test_support::parse_or_fail;

TEST(MessageTest, DefaultsAndChatRendering) {
  Message m{"a", "hi"};
  EXPECT_EQ(m.round_idx, 0);
  EXPECT_EQ(m.msg_type, "turn");
  EXPECT_EQ(to_json(turn_chat_message(Turn{"user", "", "hi"})), R"({"role":"user","content":"hi"})");
  EXPECT_EQ(to_json(turn_chat_message(Turn{"assistant", "Ann", "hi"})),
            R"({"role":"assistant","content":"[Ann] hi"})");
}

TEST(MessageTest, ConversationKeepsBothShapes) {
  Conversation c;
  c.say("Ann", "hi", 2, "orchestrator");
  c.say("Bob", "yo");
  c.directive("go on");
  c.raw("system", "x");
  c.note("ended");
  ASSERT_EQ(c.turns.size(), 4u);
  ASSERT_EQ(c.transcript.size(), 3u);
  EXPECT_EQ(c.turns[0], (Turn{"assistant", "Ann", "hi", 2, "orchestrator"}));
  EXPECT_EQ(c.transcript[0], (Message{"Ann", "hi", 2, "orchestrator"}));
  EXPECT_EQ(c.turns[2], (Turn{"user", "", "go on", 0, "turn"}));
  EXPECT_EQ(c.turns[3], (Turn{"system", "", "x", 0, "turn"}));
  EXPECT_EQ(c.transcript[2], (Message{"system", "ended", 0, "system"}));
  EXPECT_EQ(to_json(JsonValue(c.render())),
            R"([{"role":"assistant","content":"[Ann] hi"},{"role":"assistant","content":"[Bob] yo"},)"
            R"({"role":"user","content":"go on"},{"role":"system","content":"x"}])");
}

TEST(MessageTest, JsonFormsRoundTrip) {
  std::vector<Message> transcript = {{"Ann", "héllo\n", -3, "turn"}, {"system", "", 9223372036854775807, "system"}};
  std::vector<Turn> turns = {{"assistant", "Ann", "hi", 1, "turn"}, {"user", "", "", 0, "x"}};
  EXPECT_EQ(to_json(message_to_json(transcript[0])),
            R"({"sender":"Ann","content":"héllo\n","round_idx":-3,"msg_type":"turn"})");
  EXPECT_EQ(to_json(turn_to_json(turns[0])),
            R"({"role":"assistant","speaker":"Ann","content":"hi","round_idx":1,"msg_type":"turn"})");
  auto messages_back = read_message_list(parse_or_fail(to_json(transcript_to_json(transcript))));
  ASSERT_TRUE(messages_back.ok()) << messages_back.error().message;
  EXPECT_EQ(*messages_back, transcript);
  auto turns_back = read_turn_list(parse_or_fail(to_json(turns_to_json(turns))));
  ASSERT_TRUE(turns_back.ok()) << turns_back.error().message;
  EXPECT_EQ(*turns_back, turns);
}

TEST(MessageTest, ReadersRefuseBadRecords) {
  struct Case {
    const char* name;
    const char* json;
    bool turn;
    const char* expected;
  } cases[] = {
      {"message without msg_type", R"({"sender":"a","content":"b","round_idx":0})", false,
       "missing field `msg_type`"},
      {"message extra key", R"({"sender":"a","content":"b","round_idx":0,"msg_type":"t","x":1})", false,
       "<ok>"},
      {"message array form", R"(["a","b",0,"t"])", false, "<ok>"},
      {"message short array", R"(["a","b",0])", false,
       "invalid length 3, expected struct Message with 4 elements"},
      {"round as double", R"({"sender":"a","content":"b","round_idx":1.0,"msg_type":"t"})", false,
       "invalid type: floating point `1.0`, expected i64"},
      {"round too large", R"(["a","b",9223372036854775808,"t"])", false,
       "invalid value: integer `9223372036854775808`, expected i64"},
      {"turn without speaker", R"({"role":"a","content":"b","round_idx":0,"msg_type":"t"})", true,
       "missing field `speaker`"},
      {"turn array form", R"(["r","s","c",1,"t"])", true, "<ok>"},
      {"turn long array", R"(["r","s","c",1,"t",null])", true,
       "invalid length 6, expected fewer elements in array"},
      {"turn not a record", "7", true, "invalid type: integer `7`, expected struct Turn"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    JsonValue v = parse_or_fail(c.json);
    EXPECT_EQ(c.turn ? error_of(read_turn(v)) : error_of(read_message(v)), c.expected);
  }
  EXPECT_EQ(error_of(read_message_list(parse_or_fail("{}"))), "invalid type: map, expected a sequence");
  EXPECT_EQ(error_of(read_turn_list(parse_or_fail("[[]]"))),
            "invalid length 0, expected struct Turn with 5 elements");
}

}  // namespace
}  // namespace vostrel
