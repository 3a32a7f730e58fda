#include "config/config_store.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kavrel_results.h"
#include "platform/log.h"
#include "platform/os.h"

namespace {

using std::string_view;

constexpr string_view kSerialCommands[] = {"HOME", "UP",        "DOWN", "LEFT", "RIGHT",
                                           "TELESCOPE", "WIDE", "NEAR", "FAR"};
constexpr int32_t kSerialCommandCount = 9;

std::atomic<ConfigStoreReplaceHook> g_replace_hook{nullptr};

struct FileCloser {
  void operator()(FILE *file) const { fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// ---- The line grammar ---------------------------------------------------------------------

// One line as the grammar sees it: at most CONFIG_LINE_MAX characters without its line end.
// A longer line of the file comes as several pieces; only the last one ends the line, so a
// rewrite puts the pieces back together.
struct Piece {
  string_view text;
  bool line_end;
};

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(string_view a, string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool StartsWith(string_view text, string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The text between the first `open` and the first `close` after it, when at least one
// character lies between them.
bool Enclosed(string_view line, char open, char close, string_view *inner, string_view *rest) {
  size_t first = line.find(open);
  if (first == string_view::npos) return false;
  size_t last = line.find(close, first + 1);
  if (last == string_view::npos || last == first + 1) return false;
  if (inner) *inner = line.substr(first + 1, last - first - 1);
  if (rest) *rest = line.substr(last + 1);
  return true;
}

bool IsSection(string_view line, string_view *name) {
  return Enclosed(line, '[', ']', name, nullptr);
}
bool IsKey(string_view line, string_view *name) { return Enclosed(line, '<', '>', name, nullptr); }
bool IsIndexed(string_view line, string_view *index, string_view *value) {
  return Enclosed(line, '(', ')', index, value);
}

// The index text of an indexed line as a number, for keeping lists in order. False for a
// text that is not a plain decimal number.
bool ParseIndex(string_view text, long long *number) {
  size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
  if (i == text.size() || text.size() - i > 12) return false;
  long long n = 0;
  for (size_t k = i; k < text.size(); ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
    n = n * 10 + (text[k] - '0');
  }
  *number = text[0] == '-' ? -n : n;
  return true;
}

bool IsBlank(string_view line) { return line.find_first_not_of(" \t") == string_view::npos; }

// Splits the file's bytes into pieces; trailing CRs go with the line end.
std::vector<Piece> SplitPieces(const std::string &text) {
  std::vector<Piece> pieces;
  size_t start = 0;
  while (start < text.size()) {
    size_t newline = text.find('\n', start);
    size_t end = newline == std::string::npos ? text.size() : newline;
    size_t content_end = end;
    while (content_end > start && text[content_end - 1] == '\r') --content_end;
    string_view line(text.data() + start, content_end - start);
    do {
      string_view part = line.substr(0, CONFIG_LINE_MAX);
      line.remove_prefix(part.size());
      pieces.push_back(Piece{part, line.empty()});
    } while (!line.empty());
    start = newline == std::string::npos ? text.size() : newline + 1;
  }
  return pieces;
}

int32_t SerialCommandOf(string_view line) {
  for (int32_t i = 0; i < kSerialCommandCount; ++i) {
    if (line == kSerialCommands[i]) return i;
  }
  return -1;
}

// The command lists of the serial sections use name/value line pairs for indices 0 to 8.
bool IsSerialCommand(string_view section, string_view key, int32_t index) {
  return StartsWith(section, "SERIAL") &&
         (StartsWith(key, "custom ccd commands") || StartsWith(key, "PT control commands")) &&
         index >= 0 && index < kSerialCommandCount;
}

// ---- Files ----------------------------------------------------------------------------------

// The whole file. A missing file reads as empty when `missing_ok`; every other failure
// (a directory on the way that is a file, no permission, a read error) is KAVREL_E_FILE.
uint32_t LoadFile(const char *path, bool missing_ok, std::string *text) {
  text->clear();
  FilePtr file(fopen(path, "rb"));
  if (!file) {
    if (missing_ok && errno == ENOENT) return KAVREL_OK;
    return KAVREL_E_FILE;
  }
  char buffer[16384];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file.get())) > 0) text->append(buffer, n);
  return ferror(file.get()) ? KAVREL_E_FILE : KAVREL_OK;
}

// The one way the configuration is ever rewritten: the new text is written to a temporary
// file beside the old one and flushed to the disk, and only then takes the old file's
// place in one step. A crash or a full disk before that step leaves the old file whole (and
// at worst a stray temporary file beside it, never the configuration's own name).
uint32_t ReplaceFile(const char *path, const std::string &text, bool binary) {
  std::string temp = OsTempFileBeside(path);
  if (temp.empty()) {
    KV_FAIL("Config temp file failed: %s\n", path);
    return KAVREL_E_FILE;
  }
  bool written = false;
  {
    FilePtr file(fopen(temp.c_str(), binary ? "wb" : "w"));
    written = file && fwrite(text.data(), 1, text.size(), file.get()) == text.size() &&
              OsFlushFile(file.get()) == 0;
    if (file) written = fclose(file.release()) == 0 && written;
  }
  if (written) {
    ConfigStoreReplaceHook hook = g_replace_hook.load();
    if (hook) hook(temp.c_str(), path);
  }
  if (!written || OsReplaceFile(temp, path) != 0) {
    OsRemoveFile(temp);
    KV_FAIL("Config rewrite failed: %s\n", path);
    return KAVREL_E_FILE;
  }
  return KAVREL_OK;
}

// ---- Checking what a write would put in the file --------------------------------------------

bool HasLineEnd(string_view text) { return text.find_first_of("\r\n") != string_view::npos; }

// An `open` with a `close` somewhere after it, `gap` characters or more later.
bool HasPair(string_view text, char open, char close, size_t gap) {
  size_t first = text.find(open);
  size_t last = text.rfind(close);
  return first != string_view::npos && last != string_view::npos && last >= first + gap;
}

bool SectionNameOk(string_view name) {
  return !name.empty() && !HasLineEnd(name) && name.find(']') == string_view::npos &&
         name.size() + 2 <= CONFIG_LINE_MAX;
}

bool KeyNameOk(string_view name) {
  return !name.empty() && !HasLineEnd(name) && name.find('>') == string_view::npos &&
         !HasPair(name, '[', ']', 1) && name.size() + 2 <= CONFIG_LINE_MAX;
}

// A value line must read back as a value: never as a section header or a key line.
bool ValueOk(string_view value, int32_t index, bool serial) {
  size_t prefix = (index >= 0 && !serial) ? std::to_string(index).size() + 2 : 0;
  return !HasLineEnd(value) && !HasPair(value, '[', ']', 1) && !HasPair(value, '<', '>', 2) &&
         value.size() + prefix <= CONFIG_LINE_MAX;
}

// ---- Writing one value ------------------------------------------------------------------------

struct WriteRequest {
  string_view section;
  string_view key;
  string_view value;
  int32_t index;
  bool insert_at_top;
  bool serial;
};

// The rewrite of ConfigStore_Set, one piece at a time. Inside the wanted section, lines that
// a new entry must go in front of (trailing blank lines, and plain lines after the last
// indexed one of the wanted key) are held back in `pending_` until it is known whether the
// entry goes before them.
class ValueWriter {
 public:
  explicit ValueWriter(const WriteRequest &request) : req_(request) {}

  void Take(const Piece &piece) {
    if (drop_old_value_) return DropOldValue(piece);
    if (done_) return Copy(piece);
    string_view name;
    if (IsSection(piece.text, &name)) return OnSection(piece, name);
    if (!in_section_) return Copy(piece);
    if (IsKey(piece.text, &name)) return OnKey(piece, name);
    if (!in_key_) return HoldOrCopy(piece, !IsBlank(piece.text));
    if (req_.index < 0) return Replace(PlainLine());
    if (req_.serial) return OnSerialValue(piece);
    OnIndexedValue(piece);
  }

  std::string Finish() {
    if (done_) return std::move(out_);
    if (in_key_) {
      AppendNew(ValueLine());
    } else if (in_section_) {
      AppendNew(KeyEntry());
    } else {
      // A blank line between the sections, unless the file ends with one already.
      bool blank_end = out_.size() >= 2 && out_.compare(out_.size() - 2, 2, "\n\n") == 0;
      if (!out_.empty() && !blank_end) out_ += "\n";
      AppendNew("[" + std::string(req_.section) + "]\n" + KeyEntry());
    }
    out_ += pending_;
    pending_.clear();
    return std::move(out_);
  }

 private:
  void Copy(const Piece &piece) {
    out_.append(piece.text);
    if (piece.line_end) out_ += '\n';
  }

  // An anchor (a line a new entry may follow) lets the held-back lines through first.
  void HoldOrCopy(const Piece &piece, bool anchor) {
    if (!anchor) {
      pending_.append(piece.text);
      if (piece.line_end) pending_ += '\n';
      return;
    }
    out_ += pending_;
    pending_.clear();
    Copy(piece);
  }

  // New lines always start a line of their own. The text before them may end in the middle
  // of an over-long line of the file, which reading takes as separate lines anyway.
  void AppendNew(const std::string &text) {
    if (!out_.empty() && out_.back() != '\n') out_ += '\n';
    out_ += text;
  }

  // The new text goes where the last anchor left off, before the held-back lines.
  void InsertBeforePending(const std::string &text) {
    AppendNew(text);
    out_ += pending_;
    pending_.clear();
    done_ = true;
  }

  void Replace(const std::string &line) {
    out_ += pending_;
    pending_.clear();
    AppendNew(line);
    done_ = true;
  }

  void OnSection(const Piece &piece, string_view name) {
    if (in_section_) {
      // The wanted section ends here without the value placed. A new key entry keeps a
      // blank line between itself and the next header.
      bool had_gap = !pending_.empty();
      InsertBeforePending(in_key_ ? ValueLine() : KeyEntry());
      if (!in_key_ && !had_gap) out_ += "\n";
      return Copy(piece);
    }
    Copy(piece);
    if (!EqualsNoCase(name, req_.section)) return;
    in_section_ = true;
    if (req_.insert_at_top) {
      AppendNew(KeyEntry());
      done_ = true;
    }
  }

  void OnKey(const Piece &piece, string_view name) {
    if (in_key_) {
      InsertBeforePending(ValueLine());
      return Copy(piece);
    }
    HoldOrCopy(piece, true);
    in_key_ = EqualsNoCase(name, req_.key);
  }

  void OnSerialValue(const Piece &piece) {
    if (after_command_) {  // the value of the command on the line before
      after_command_ = false;
      return HoldOrCopy(piece, true);
    }
    int32_t command = SerialCommandOf(piece.text);
    if (command == req_.index) {
      HoldOrCopy(piece, true);
      AppendNew(PlainLine());
      done_ = true;
      drop_old_value_ = true;
      return;
    }
    // A command's name waits for its value line: a new pair must never come between them,
    // where reading would take the new name for the old command's value.
    after_command_ = command >= 0;
    HoldOrCopy(piece, command < 0 && !IsBlank(piece.text));
  }

  // The old value of a replaced serial command goes, unless the command had none.
  void DropOldValue(const Piece &piece) {
    drop_old_value_ = false;
    if (IsSection(piece.text, nullptr) || IsKey(piece.text, nullptr)) Copy(piece);
  }

  void OnIndexedValue(const Piece &piece) {
    string_view index_text, rest;
    long long n = 0;
    if (IsIndexed(piece.text, &index_text, &rest) && ParseIndex(index_text, &n)) {
      if (n < req_.index) {
        seen_indexed_ = true;
        return HoldOrCopy(piece, true);
      }
      if (n == req_.index) return Replace(IndexedLine());
      InsertBeforePending(IndexedLine());
      return Copy(piece);
    }
    bool plain = !IsIndexed(piece.text, nullptr, nullptr);
    if (req_.index == 0 && plain) {
      // Reading takes a plain line for index 0, so the new line must come first. A blank
      // one stays behind it: it usually separates the sections.
      if (!IsBlank(piece.text)) return Replace(IndexedLine());
      InsertBeforePending(IndexedLine());
      return Copy(piece);
    }
    // Other lines stay where they are; a new entry goes after the last indexed line, or
    // after the last non-blank line when there is no indexed one.
    HoldOrCopy(piece, !IsBlank(piece.text) && !seen_indexed_);
  }

  std::string PlainLine() const { return std::string(req_.value) + "\n"; }
  std::string IndexedLine() const {
    return "(" + std::to_string(req_.index) + ")" + std::string(req_.value) + "\n";
  }
  std::string ValueLine() const {
    if (req_.index < 0) return PlainLine();
    if (req_.serial) return std::string(kSerialCommands[req_.index]) + "\n" + PlainLine();
    return IndexedLine();
  }
  std::string KeyEntry() const { return "<" + std::string(req_.key) + ">\n" + ValueLine(); }

  const WriteRequest &req_;
  std::string out_;
  std::string pending_;
  bool in_section_ = false;
  bool in_key_ = false;
  bool done_ = false;
  bool seen_indexed_ = false;
  bool after_command_ = false;
  bool drop_old_value_ = false;
};

// ---- Reading one value --------------------------------------------------------------------------

// The value of `index` among the wanted key's value lines, or false.
class ValueReader {
 public:
  ValueReader(string_view section, string_view key, int32_t index)
      : section_(section), key_(key), index_(index),
        serial_(IsSerialCommand(section, key, index)), wanted_index_(std::to_string(index)) {}

  // True when reading should stop: the value was found or can no longer be.
  bool Take(string_view line) {
    string_view name;
    if (IsSection(line, &name)) {
      if (in_section_) return true;
      in_section_ = EqualsNoCase(name, section_);
      return false;
    }
    if (!in_section_) return false;
    if (IsKey(line, &name)) {
      if (in_key_) return true;
      in_key_ = EqualsNoCase(name, key_);
      return false;
    }
    if (!in_key_) return false;
    return TakeValue(line);
  }

  bool found() const { return found_; }
  string_view value() const { return value_; }

 private:
  bool Found(string_view value) {
    found_ = true;
    value_ = value;
    return true;
  }

  bool TakeValue(string_view line) {
    if (index_ < 0) return Found(line);
    if (serial_) {
      if (after_command_) {
        after_command_ = false;
        if (after_wanted_) return Found(line);
        return false;
      }
      int32_t command = SerialCommandOf(line);
      after_command_ = command >= 0;
      after_wanted_ = command == index_;
      return false;
    }
    string_view index_text, rest;
    if (IsIndexed(line, &index_text, &rest)) {
      return index_text == wanted_index_ ? Found(rest) : false;
    }
    return index_ == 0 ? Found(line) : false;
  }

  string_view section_, key_;
  int32_t index_;
  bool serial_;
  std::string wanted_index_;
  bool in_section_ = false, in_key_ = false;
  bool after_command_ = false, after_wanted_ = false;
  bool found_ = false;
  string_view value_;
};

void CopyOut(char *out, string_view text) {
  size_t n = text.size() < CONFIG_LINE_MAX ? text.size() : CONFIG_LINE_MAX;
  memcpy(out, text.data(), n);
  out[n] = '\0';
}

// Every line of `text` without its line end, each ended with `line_end`.
std::string WithLineEnds(const std::string &text, const char *line_end) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  size_t start = 0;
  while (start < text.size()) {
    size_t newline = text.find('\n', start);
    size_t end = newline == std::string::npos ? text.size() : newline;
    size_t content_end = end;
    while (content_end > start && text[content_end - 1] == '\r') --content_end;
    out.append(text, start, content_end - start);
    out += line_end;
    start = newline == std::string::npos ? text.size() : newline + 1;
  }
  return out;
}

// KAVREL_E_INVALIDARG (logged) for a write whose lines would not read back as written.
uint32_t CheckWrite(const char *section, const char *key, const char *value, int32_t index) {
  if (!section || !key || !value) return KAVREL_E_INVALIDARG;
  bool serial = IsSerialCommand(section, key, index);
  if (SectionNameOk(section) && KeyNameOk(key) && ValueOk(value, index, serial)) return KAVREL_OK;
  KV_FAIL("Config entry refused: [%.40s] <%.40s>\n", section, key);
  return KAVREL_E_INVALIDARG;
}

}  // namespace

uint32_t ConfigStore_CheckWrite(const char *section, const char *key, const char *value,
                                int32_t index) {
  return CheckWrite(section, key, value, index);
}

void ConfigStore_SetReplaceHook(ConfigStoreReplaceHook hook) { g_replace_hook.store(hook); }

uint32_t ConfigStore_Get(const char *path, const char *section, const char *key, char *out,
                         const char *default_text, int32_t index) {
  string_view fallback = default_text ? default_text : "";
  if (!path || !section || !key || !out) {
    if (out) CopyOut(out, fallback);
    return KAVREL_E_INVALIDARG;
  }
  std::string text;
  if (LoadFile(path, false, &text) != KAVREL_OK) {
    CopyOut(out, fallback);
    return KAVREL_E_FILE;
  }
  ValueReader reader(section, key, index);
  for (const Piece &piece : SplitPieces(text)) {
    if (reader.Take(piece.text)) break;
  }
  if (!reader.found()) {
    CopyOut(out, fallback);
    return KAVREL_E_CATALOG;
  }
  CopyOut(out, reader.value());
  return KAVREL_OK;
}


uint32_t ConfigStore_Set(const char *path, const char *section, const char *key,
                         const char *value, int32_t index, int insert_at_top) {
  uint32_t check = path ? CheckWrite(section, key, value, index) : KAVREL_E_INVALIDARG;
  if (check != KAVREL_OK) return check;
  WriteRequest req{section, key, value, index, insert_at_top != 0,
                   IsSerialCommand(section, key, index)};
  std::string text;
  if (LoadFile(path, true, &text) != KAVREL_OK) {
    KV_FAIL("Config open failed: %s\n", path);
    return KAVREL_E_FILE;
  }
  ValueWriter writer(req);
  for (const Piece &piece : SplitPieces(text)) writer.Take(piece);
  return ReplaceFile(path, writer.Finish(), false);
}

uint32_t ConfigStore_Normalize(const char *path) {
  if (!path) return KAVREL_E_INVALIDARG;
  std::string text;
  if (LoadFile(path, true, &text) != KAVREL_OK) {
    KV_FAIL("Config open failed: %s\n", path);
    return KAVREL_E_FILE;
  }
  return ReplaceFile(path, WithLineEnds(text, "\n"), false);
}

uint32_t ConfigStore_ToCrLf(const char *path) {
  if (!path) return KAVREL_E_INVALIDARG;
  std::string text;
  if (LoadFile(path, false, &text) != KAVREL_OK) {
    KV_FAIL("Config open failed: %s\n", path);
    return KAVREL_E_FILE;
  }
  return ReplaceFile(path, WithLineEnds(text, "\r\n"), true);
}
