// A command line typed key by key on a terminal in non-canonical mode: the bytes of
// a key (VT sequences, or a Windows console's two-byte keys) decoded, and a line
// edited with the usual keys, a history and tab completion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zr90 {

enum class Key : uint8_t {
  text,       // a printable character
  enter,
  left,
  right,
  home,
  end,
  backspace,
  erase,      // the character under the cursor (Delete)
  up,
  down,
  tab,
  kill_line,  // Ctrl-U: everything before the cursor
  kill_end,   // Ctrl-K: everything from the cursor on
  kill_word,  // Ctrl-W: the word before the cursor
  end_of_input,  // Ctrl-D
};

struct KeyPress {
  Key key = Key::text;
  char character = 0;
  bool operator==(const KeyPress&) const = default;
};

// Bytes as the terminal sends them, into keys. A sequence is held until it is whole;
// one it does not know is dropped.
class KeyDecoder {
 public:
  std::optional<KeyPress> take(int byte);

 private:
  std::optional<KeyPress> end_sequence(int byte);

  std::string pending_;  // the start of an escape sequence or a two-byte console key
};

class LineEditor {
 public:
  // The words a partly typed word may become: given the words before it on the line.
  using Completer = std::function<std::vector<std::string>(const std::vector<std::string>& before,
                                                            std::string_view partial)>;
  enum class Outcome : uint8_t { editing, submitted, end_of_input };

  explicit LineEditor(Completer completer = {}) : completer_(std::move(completer)) {}

  // Enter submits the line (take it with take_line); Ctrl-D on an empty line ends the input.
  Outcome take(const KeyPress& key);
  // The submitted line, kept in the history when it is not empty; the editor starts a new one.
  std::string take_line();
  void clear();

  const std::string& text() const { return text_; }
  std::size_t cursor() const { return cursor_; }
  // What the last tab could have completed to, when it could not decide.
  const std::vector<std::string>& choices() const { return choices_; }

  static constexpr std::size_t HISTORY = 200;

 private:
  void insert(char character);
  void complete();
  void recall(int step);
  std::size_t word_start() const;

  Completer completer_;
  std::string text_;
  std::size_t cursor_ = 0;
  std::vector<std::string> history_;
  std::size_t recalled_ = 0;  // index into history_; its size: the line being typed
  std::string draft_;         // the line being typed while the history is browsed
  std::vector<std::string> choices_;
};

// Words split at spaces, empty ones dropped.
std::vector<std::string> split_words(std::string_view line);

}  // namespace zr90
