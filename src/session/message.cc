#include "session/message.h"

#include "json/typed_reader.h"

namespace vostrel {

namespace {

constexpr std::string_view kMessageFields[] = {"sender", "content", "round_idx", "msg_type"};
constexpr json::RecordShape kMessageShape{"struct Message", kMessageFields};

constexpr std::string_view kTurnFields[] = {"role", "speaker", "content", "round_idx", "msg_type"};
constexpr json::RecordShape kTurnShape{"struct Turn", kTurnFields};

Status read_message_into(const JsonValue& value, Message& out) {
  return json::read_record(value, kMessageShape, [&](std::size_t field, const JsonValue& x) {
    switch (field) {
      case 0: return json::read_string(x, out.sender);
      case 1: return json::read_string(x, out.content);
      case 2: return json::read_i64(x, out.round_idx);
      default: return json::read_string(x, out.msg_type);
    }
  });
}

Status read_turn_into(const JsonValue& value, Turn& out) {
  return json::read_record(value, kTurnShape, [&](std::size_t field, const JsonValue& x) {
    switch (field) {
      case 0: return json::read_string(x, out.role);
      case 1: return json::read_string(x, out.speaker);
      case 2: return json::read_string(x, out.content);
      case 3: return json::read_i64(x, out.round_idx);
      default: return json::read_string(x, out.msg_type);
    }
  });
}

template <typename T, typename F>
JsonValue list_to_json(const std::vector<T>& items, F to_json) {
  JsonArray a;
  a.reserve(items.size());
  for (const T& item : items) a.push_back(to_json(item));
  return a;
}

}  // namespace

JsonValue turn_chat_message(const Turn& turn) {
  JsonObject o;
  o.reserve(2);
  o.insert("role", turn.role);
  if (turn.speaker.empty()) {
    o.insert("content", turn.content);
  } else {
    std::string content;
    content.reserve(turn.speaker.size() + turn.content.size() + 3);
    content += '[';
    content += turn.speaker;
    content += "] ";
    content += turn.content;
    o.insert("content", std::move(content));
  }
  return o;
}

void Conversation::say(std::string_view speaker, std::string_view content, std::int64_t round_idx,
                       std::string_view msg_type) {
  turns.push_back(Turn{"assistant", std::string(speaker), std::string(content), round_idx,
                       std::string(msg_type)});
  transcript.push_back(
      Message{std::string(speaker), std::string(content), round_idx, std::string(msg_type)});
}

void Conversation::raw(std::string_view role, std::string_view content) {
  turns.push_back(Turn{std::string(role), "", std::string(content), 0, "turn"});
}

void Conversation::note(std::string_view content) {
  transcript.push_back(Message{"system", std::string(content), 0, "system"});
}

JsonArray Conversation::render() const {
  JsonArray out;
  out.reserve(turns.size());
  for (const Turn& t : turns) out.push_back(turn_chat_message(t));
  return out;
}

JsonValue message_to_json(const Message& m) {
  JsonObject o;
  o.reserve(4);
  o.insert("sender", m.sender);
  o.insert("content", m.content);
  o.insert("round_idx", m.round_idx);
  o.insert("msg_type", m.msg_type);
  return o;
}

JsonValue turn_to_json(const Turn& t) {
  JsonObject o;
  o.reserve(5);
  o.insert("role", t.role);
  o.insert("speaker", t.speaker);
  o.insert("content", t.content);
  o.insert("round_idx", t.round_idx);
  o.insert("msg_type", t.msg_type);
  return o;
}

JsonValue transcript_to_json(const std::vector<Message>& messages) {
  return list_to_json(messages, message_to_json);
}

JsonValue turns_to_json(const std::vector<Turn>& turns) {
  return list_to_json(turns, turn_to_json);
}

Result<Message> read_message(const JsonValue& value) {
  return json::read_as<Message>(value, read_message_into);
}

Result<std::vector<Message>> read_message_list(const JsonValue& value) {
  return json::read_list_as<Message>(value, read_message_into);
}

Result<Turn> read_turn(const JsonValue& value) {
  return json::read_as<Turn>(value, read_turn_into);
}

Result<std::vector<Turn>> read_turn_list(const JsonValue& value) {
  return json::read_list_as<Turn>(value, read_turn_into);
}

}  // namespace vostrel
