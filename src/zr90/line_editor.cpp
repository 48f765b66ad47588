#include "zr90/line_editor.h"

#include <algorithm>

namespace zr90 {

namespace {

constexpr int ESCAPE = 27;
constexpr int DELETE_CHARACTER = 127;
// A Windows console's _getch gives a function or arrow key as one of these, then its code.
constexpr int CONSOLE_PREFIX = 0;
constexpr int CONSOLE_PREFIX_EXTENDED = 0xE0;

constexpr int control(char letter) { return letter - '@'; }

std::optional<KeyPress> control_key(int byte) {
  switch (byte) {
    case '\r':
    case '\n':
      return KeyPress{Key::enter};
    case '\t':
      return KeyPress{Key::tab};
    case DELETE_CHARACTER:
    case control('H'):
      return KeyPress{Key::backspace};
    case control('A'):
      return KeyPress{Key::home};
    case control('E'):
      return KeyPress{Key::end};
    case control('B'):
      return KeyPress{Key::left};
    case control('F'):
      return KeyPress{Key::right};
    case control('P'):
      return KeyPress{Key::up};
    case control('N'):
      return KeyPress{Key::down};
    case control('U'):
      return KeyPress{Key::kill_line};
    case control('K'):
      return KeyPress{Key::kill_end};
    case control('W'):
      return KeyPress{Key::kill_word};
    case control('D'):
      return KeyPress{Key::end_of_input};
    default:
      return std::nullopt;
  }
}

// The final letter of ESC [ X or ESC O X.
std::optional<Key> letter_key(int byte) {
  switch (byte) {
    case 'A':
      return Key::up;
    case 'B':
      return Key::down;
    case 'C':
      return Key::right;
    case 'D':
      return Key::left;
    case 'H':
      return Key::home;
    case 'F':
      return Key::end;
    default:
      return std::nullopt;
  }
}

// The code after a console's prefix byte.
std::optional<Key> scan_code_key(int byte) {
  constexpr struct {
    int code;
    Key key;
  } CODES[] = {{72, Key::up},   {80, Key::down}, {77, Key::right}, {75, Key::left},
               {71, Key::home}, {79, Key::end},  {83, Key::erase}};
  for (const auto& row : CODES) {
    if (row.code == byte) return row.key;
  }
  return std::nullopt;
}

// ESC [ N ~
std::optional<Key> numbered_key(std::string_view number) {
  if (number == "1" || number == "7") return Key::home;
  if (number == "4" || number == "8") return Key::end;
  if (number == "3") return Key::erase;
  return std::nullopt;
}

bool is_word_character(char c) { return c != ' '; }

}  // namespace

std::optional<KeyPress> KeyDecoder::take(int byte) {
  if (!pending_.empty()) return end_sequence(byte);
  if (byte == ESCAPE || byte == CONSOLE_PREFIX || byte == CONSOLE_PREFIX_EXTENDED) {
    pending_.push_back(static_cast<char>(byte));
    return std::nullopt;
  }
  if (byte >= ' ' && byte < DELETE_CHARACTER) return KeyPress{Key::text, static_cast<char>(byte)};
  return control_key(byte);
}

std::optional<KeyPress> KeyDecoder::end_sequence(int byte) {
  const int first = static_cast<unsigned char>(pending_[0]);
  if (first != ESCAPE) {
    pending_.clear();
    const std::optional<Key> key = scan_code_key(byte);
    return key ? std::optional<KeyPress>(KeyPress{*key}) : std::nullopt;
  }
  if (pending_.size() == 1) {
    if (byte == '[' || byte == 'O') {
      pending_.push_back(static_cast<char>(byte));
      return std::nullopt;
    }
    pending_.clear();
    return std::nullopt;
  }
  if ((byte >= '0' && byte <= '9') || byte == ';') {
    pending_.push_back(static_cast<char>(byte));
    return std::nullopt;
  }
  const std::string number = pending_.substr(2);
  pending_.clear();
  const std::optional<Key> key = byte == '~' ? numbered_key(number) : letter_key(byte);
  return key ? std::optional<KeyPress>(KeyPress{*key}) : std::nullopt;
}

LineEditor::Outcome LineEditor::take(const KeyPress& key) {
  if (key.key != Key::tab) choices_.clear();
  switch (key.key) {
    case Key::text:
      insert(key.character);
      break;
    case Key::enter:
      return Outcome::submitted;
    case Key::left:
      cursor_ -= cursor_ > 0 ? 1 : 0;
      break;
    case Key::right:
      cursor_ += cursor_ < text_.size() ? 1 : 0;
      break;
    case Key::home:
      cursor_ = 0;
      break;
    case Key::end:
      cursor_ = text_.size();
      break;
    case Key::backspace:
      if (cursor_ > 0) text_.erase(--cursor_, 1);
      break;
    case Key::erase:
      if (cursor_ < text_.size()) text_.erase(cursor_, 1);
      break;
    case Key::up:
      recall(-1);
      break;
    case Key::down:
      recall(1);
      break;
    case Key::tab:
      complete();
      break;
    case Key::kill_line:
      text_.erase(0, cursor_);
      cursor_ = 0;
      break;
    case Key::kill_end:
      text_.erase(cursor_);
      break;
    case Key::kill_word: {
      std::size_t start = cursor_;
      while (start > 0 && !is_word_character(text_[start - 1])) --start;
      while (start > 0 && is_word_character(text_[start - 1])) --start;
      text_.erase(start, cursor_ - start);
      cursor_ = start;
      break;
    }
    case Key::end_of_input:
      if (text_.empty()) return Outcome::end_of_input;
      if (cursor_ < text_.size()) text_.erase(cursor_, 1);
      break;
  }
  return Outcome::editing;
}

std::string LineEditor::take_line() {
  std::string line = std::move(text_);
  // A line typed again right away is kept once.
  if (!split_words(line).empty() && (history_.empty() || history_.back() != line)) {
    history_.push_back(line);
    if (history_.size() > HISTORY) history_.erase(history_.begin());
  }
  clear();
  return line;
}

void LineEditor::clear() {
  text_.clear();
  cursor_ = 0;
  recalled_ = history_.size();
  draft_.clear();
  choices_.clear();
}

void LineEditor::insert(char character) {
  text_.insert(cursor_, 1, character);
  ++cursor_;
}

void LineEditor::recall(int step) {
  if (step < 0 && recalled_ == 0) return;
  if (step > 0 && recalled_ >= history_.size()) return;
  if (recalled_ == history_.size()) draft_ = text_;
  recalled_ = static_cast<std::size_t>(static_cast<long>(recalled_) + step);
  text_ = recalled_ < history_.size() ? history_[recalled_] : draft_;
  cursor_ = text_.size();
}

std::size_t LineEditor::word_start() const {
  std::size_t start = cursor_;
  while (start > 0 && is_word_character(text_[start - 1])) --start;
  return start;
}

// One choice takes its place with a space after it; several extend the word as far
// as they agree, and are kept to be shown.
void LineEditor::complete() {
  if (!completer_) return;
  const std::size_t start = word_start();
  const std::string partial = text_.substr(start, cursor_ - start);
  const std::vector<std::string> candidates = completer_(split_words(text_.substr(0, start)), partial);
  if (candidates.empty()) return;
  std::string common = candidates.front();
  for (const std::string& candidate : candidates) {
    std::size_t same = 0;
    while (same < common.size() && same < candidate.size() && common[same] == candidate[same]) ++same;
    common.resize(same);
  }
  if (common.size() < partial.size()) common = partial;
  text_.replace(start, cursor_ - start, common);
  cursor_ = start + common.size();
  // "kqp=" waits for its value.
  if (candidates.size() > 1) {
    choices_ = candidates;
  } else if (!common.ends_with('=')) {
    insert(' ');
  }
}

std::vector<std::string> split_words(std::string_view line) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < line.size()) {
    const std::size_t start = line.find_first_not_of(' ', at);
    if (start == std::string_view::npos) break;
    const std::size_t end = std::min(line.find(' ', start), line.size());
    words.emplace_back(line.substr(start, end - start));
    at = end;
  }
  return words;
}

}  // namespace zr90
