// The console's command line: bytes into keys, keys into a line and a cursor.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zr90/line_editor.h"

namespace {

using zr90::Key;
using zr90::KeyDecoder;
using zr90::KeyPress;
using zr90::LineEditor;

std::vector<KeyPress> decode(const std::string& bytes) {
  KeyDecoder decoder;
  std::vector<KeyPress> keys;
  for (unsigned char byte : bytes) {
    if (const std::optional<KeyPress> key = decoder.take(byte)) keys.push_back(*key);
  }
  return keys;
}

TEST(KeyDecoder, TurnsTerminalAndConsoleBytesIntoKeys) {
  const struct {
    std::string bytes;
    std::vector<KeyPress> keys;
  } cases[] = {
      {"ab", {{Key::text, 'a'}, {Key::text, 'b'}}},
      {"\x1b[A\x1b[B\x1b[C\x1b[D", {{Key::up}, {Key::down}, {Key::right}, {Key::left}}},
      {"\x1bOH\x1bOF", {{Key::home}, {Key::end}}},
      {"\x1b[1~\x1b[4~\x1b[3~\x1b[7~\x1b[8~", {{Key::home}, {Key::end}, {Key::erase}, {Key::home}, {Key::end}}},
      {"\x1b[1;5C", {{Key::right}}},
      {"\x1b[5~x", {{Key::text, 'x'}}},   // page up: not ours, dropped whole
      {"\x1bxy", {{Key::text, 'y'}}},     // Alt-x: dropped
      {std::string("\xe0H\xe0P\x00K\x00M\xe0S", 10), {{Key::up}, {Key::down}, {Key::left}, {Key::right}, {Key::erase}}},
      {"\r\n\t\x7f\x08", {{Key::enter}, {Key::enter}, {Key::tab}, {Key::backspace}, {Key::backspace}}},
      {"\x01\x05\x15\x0b\x17\x04", {{Key::home}, {Key::end}, {Key::kill_line}, {Key::kill_end}, {Key::kill_word},
                                    {Key::end_of_input}}},
      {"\x10\x0e\x02\x06", {{Key::up}, {Key::down}, {Key::left}, {Key::right}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(decode(c.bytes), c.keys);
  }
}

// Typed after "set kqp=12", the cursor at its end.
TEST(LineEditor, EditsTheLineWhereTheCursorIs) {
  const struct {
    std::string keys;  // bytes as typed
    std::string text;
    std::size_t cursor;
  } cases[] = {
      {"", "set kqp=12", 10},
      {"\x1b[D\x1b[D3", "set kqp=312", 9},
      {"\x01x", "xset kqp=12", 1},
      {"\x01\x1b[D\x05", "set kqp=12", 10},
      {"\x7f\x7f", "set kqp=", 8},
      {"\x01\x1b[3~", "et kqp=12", 0},
      {"\x1b[D\x1b[D\x0b", "set kqp=", 8},
      {"\x1b[D\x1b[D\x15", "12", 0},
      {"\x17", "set ", 4},
      {"\x17\x17", "", 0},
      {"\x1b[C\x1b[C", "set kqp=12", 10},
      {"\x01\x1b[D\x7f", "set kqp=12", 0},
      {"\x01\x04", "et kqp=12", 0},  // Ctrl-D on a line that is not empty deletes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.keys));
    LineEditor editor;
    for (const KeyPress& key : decode("set kqp=12" + c.keys)) {
      EXPECT_EQ(editor.take(key), LineEditor::Outcome::editing);
    }
    EXPECT_EQ(editor.text(), c.text);
    EXPECT_EQ(editor.cursor(), c.cursor);
  }
}

TEST(LineEditor, EnterSubmitsAndCtrlDOnAnEmptyLineEndsTheInput) {
  LineEditor editor;
  for (const KeyPress& key : decode("get kqp")) editor.take(key);
  EXPECT_EQ(editor.take({Key::enter}), LineEditor::Outcome::submitted);
  EXPECT_EQ(editor.take_line(), "get kqp");
  EXPECT_EQ(editor.text(), "");
  EXPECT_EQ(editor.take({Key::end_of_input}), LineEditor::Outcome::end_of_input);
}

TEST(LineEditor, UpAndDownWalkTheHistoryAndKeepTheLineBeingTyped) {
  LineEditor editor;
  for (const std::string line : {"get kqp", "faults", "faults", "  "}) {
    for (const KeyPress& key : decode(line)) editor.take(key);
    editor.take_line();
  }
  for (const KeyPress& key : decode("ad")) editor.take(key);
  const struct {
    Key key;
    std::string text;
  } steps[] = {{Key::up, "faults"}, {Key::up, "get kqp"}, {Key::up, "get kqp"},
               {Key::down, "faults"}, {Key::down, "ad"}, {Key::down, "ad"}};
  for (const auto& step : steps) {
    editor.take({step.key});
    EXPECT_EQ(editor.text(), step.text);
    EXPECT_EQ(editor.cursor(), step.text.size());
  }
}

TEST(LineEditor, TabCompletesTheWordAtTheCursor) {
  const auto words = [](const std::vector<std::string>& before, std::string_view partial) {
    const std::vector<std::string> all =
        before.empty() ? std::vector<std::string>{"get", "set", "save"} : std::vector<std::string>{"kqp=", "kqi="};
    std::vector<std::string> found;
    for (const std::string& word : all) {
      if (word.starts_with(partial)) found.push_back(word);
    }
    return found;
  };
  const struct {
    std::string typed;
    std::string text;
    std::vector<std::string> choices;
  } cases[] = {
      {"g", "get ", {}},
      {"s", "s", {"set", "save"}},
      {"sa", "save ", {}},
      {"x", "x", {}},
      {"set k", "set kq", {"kqp=", "kqi="}},
      {"set kqp", "set kqp=", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    LineEditor editor(words);
    for (const KeyPress& key : decode(c.typed + "\t")) editor.take(key);
    EXPECT_EQ(editor.text(), c.text);
    EXPECT_EQ(editor.cursor(), c.text.size());
    EXPECT_EQ(editor.choices(), c.choices);
  }
}

}  // namespace
