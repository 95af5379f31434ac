// The two shapes of a session's history: `Message`, one entry of the public
// transcript people read, and `Turn`, one entry of the history a model is
// shown; `Conversation` keeps both lists side by side. Plain values: copy,
// move and compare them freely.
#ifndef VOSTREL_SESSION_MESSAGE_H_
#define VOSTREL_SESSION_MESSAGE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "json/value.h"
#include "utils/result.h"

namespace vostrel {

// One entry of the public transcript.
struct Message {
  std::string sender;   // an agent's name, or "system" for a system note
  std::string content;
  std::int64_t round_idx = 0;  // 0 when the entry belongs to no round
  std::string msg_type = "turn";  // "system" for a note; any text is kept

  bool operator==(const Message&) const = default;
};

// One entry of the history a model is shown.
struct Turn {
  std::string role;     // chat role: "assistant" for an agent's turn, "user" for a directive
  std::string speaker;  // empty for a turn without a speaker
  std::string content;
  std::int64_t round_idx = 0;
  std::string msg_type = "turn";

  bool operator==(const Turn&) const = default;
};

// The chat message a turn renders to: {"role": ..., "content": ...}, the
// content prefixed with "[{speaker}] " when the turn has a speaker.
JsonValue turn_chat_message(const Turn& turn);

// A session's running history in both shapes. The lists are independent:
// each operation says which one it touches.
struct Conversation {
  std::vector<Turn> turns;
  std::vector<Message> transcript;

  // One agent's turn, in both lists: an "assistant" turn and a message whose
  // sender is the speaker.
  void say(std::string_view speaker, std::string_view content, std::int64_t round_idx = 0,
           std::string_view msg_type = "turn");
  // A model-only turn at `role`, without a speaker.
  void raw(std::string_view role, std::string_view content);
  // A model-only "user" turn.
  void directive(std::string_view content) { raw("user", content); }
  // A transcript-only system note (sender and type "system").
  void note(std::string_view content);
  // The chat messages of the turns, in order.
  JsonArray render() const;
};

// JSON forms: a Message is {"sender", "content", "round_idx", "msg_type"}, a
// Turn {"role", "speaker", "content", "round_idx", "msg_type"}, keys in those
// orders; lists are arrays in list order.
JsonValue message_to_json(const Message& message);
JsonValue turn_to_json(const Turn& turn);
JsonValue transcript_to_json(const std::vector<Message>& messages);
JsonValue turns_to_json(const std::vector<Turn>& turns);

// Readers of those forms: every key is required (msg_type has no default
// here), unknown keys are passed over, and a record may also be given as an
// array of its field values in order. Errors carry the shared typed-reader
// texts (json/typed_reader.h).
Result<Message> read_message(const JsonValue& value);
Result<std::vector<Message>> read_message_list(const JsonValue& value);
Result<Turn> read_turn(const JsonValue& value);
Result<std::vector<Turn>> read_turn_list(const JsonValue& value);

}  // namespace vostrel

#endif  // VOSTREL_SESSION_MESSAGE_H_
