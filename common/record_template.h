// Record templates: "(3I6,F12.1,F12.1,F12.3)" and the like.
//
// A template is parsed once into a flat list of ops by a constexpr parser.
// Tools hand their templates over as string literals; the parse then runs
// at compile time, so a malformed template, or values that do not match
// its data fields, stop the build. The same parser runs at run time for
// the tests.
#pragma once

#include <cstdint>
#include <string_view>

namespace zeb {

enum class op_kind : std::uint8_t {
  integer,    // Iw
  real,       // Fw.d
  text,       // A or Aw (width 0: as wide as the value)
  skip,       // nX
  literal,    // 'text' or "text"
  group,      // r( ... ): `length` is the index of its group_end
  group_end,
};

struct template_op {
  op_kind kind = op_kind::literal;
  std::uint8_t decimals = 0;   // Fw.d: d
  std::uint16_t repeat = 1;    // data fields and groups: how many times
  std::uint16_t width = 0;     // Iw, Fw.d, Aw: w; nX: n; literal: offset of its text
  std::uint16_t length = 0;    // literal: length of its text as written (quotes doubled)
};

inline constexpr int max_template_ops = 24;
inline constexpr int max_group_depth = 4;

struct record_program {
  std::string_view text;           // the template as written
  template_op ops[max_template_ops]{};
  int count = 0;
  const char* error = nullptr;     // why the template is malformed; null when it is not
  int error_at = 0;                // offset in `text` where the parser stopped
};

namespace detail {

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

struct template_parser {
  std::string_view s;
  int at = 0;
  record_program p;

  constexpr void skip_blanks() {
    while (at < int(s.size()) && s[at] == ' ') ++at;
  }
  constexpr bool fail(const char* why) {
    if (!p.error) {
      p.error = why;
      p.error_at = at;
    }
    return false;
  }
  // An unsigned count of at most four digits, at least `min`.
  constexpr bool number(int& out, int min) {
    if (at >= int(s.size()) || !is_digit(s[at])) return fail("a number is missing");
    out = 0;
    int digits = 0;
    while (at < int(s.size()) && is_digit(s[at])) {
      out = out * 10 + (s[at++] - '0');
      if (++digits > 4) return fail("a number is too large");
    }
    if (out < min) return fail("a number is too small");
    return true;
  }
  constexpr bool add(template_op op) {
    if (p.count == max_template_ops) return fail("too many items");
    p.ops[p.count++] = op;
    return true;
  }
  constexpr bool literal() {
    const char quote = s[at++];
    const int start = at;
    for (;; ++at) {
      if (at >= int(s.size())) return fail("a literal text is not closed");
      if (s[at] != quote) continue;
      if (at + 1 == int(s.size()) || s[at + 1] != quote) break;
      ++at;  // a doubled quote stands for one
    }
    const template_op op{.kind = op_kind::literal, .width = std::uint16_t(start), .length = std::uint16_t(at - start)};
    ++at;
    return add(op);
  }
  // One item: literal, nX, [r]Iw, [r]Fw.d, [r]A[w], r(...).
  constexpr bool item(int depth) {
    skip_blanks();
    if (at >= int(s.size())) return fail("the template ends inside its list");
    if (s[at] == '\'' || s[at] == '"') return literal();
    int repeat = 1;
    bool has_repeat = false;
    if (is_digit(s[at])) {
      if (!number(repeat, 1)) return false;
      has_repeat = true;
    }
    if (at >= int(s.size())) return fail("an item is missing its letter");
    const char c = s[at++];
    template_op op;
    op.repeat = std::uint16_t(repeat);
    int n = 0;
    switch (c) {
      case 'I':
      case 'F':
        op.kind = c == 'I' ? op_kind::integer : op_kind::real;
        if (!number(n, 1)) return false;
        op.width = std::uint16_t(n);
        if (c == 'I') return add(op);
        if (at >= int(s.size()) || s[at] != '.') return fail("F needs a point and decimals");
        ++at;
        if (!number(n, 0)) return false;
        if (n > 40) return fail("too many decimals");
        op.decimals = std::uint8_t(n);
        return add(op);
      case 'A':
        op.kind = op_kind::text;
        if (at < int(s.size()) && is_digit(s[at])) {
          if (!number(n, 1)) return false;
          op.width = std::uint16_t(n);
        }
        return add(op);
      case 'X':
        if (!has_repeat) return fail("X needs a count");
        op.kind = op_kind::skip;
        op.width = std::uint16_t(repeat);
        op.repeat = 1;
        return add(op);
      case '(': {
        if (depth + 1 > max_group_depth) return fail("groups are nested too deeply");
        const int open = p.count;
        op.kind = op_kind::group;
        if (!add(op) || !list(depth + 1)) return false;
        // A group with nothing but groups in it gives no item however often
        // it turns: 9999(9999(...())) would spin for ever in the walk.
        bool gives_items = false;
        for (int k = open + 1; k < p.count; ++k)
          gives_items = gives_items || (p.ops[k].kind != op_kind::group && p.ops[k].kind != op_kind::group_end);
        if (!gives_items) return fail("a group holds no item");
        if (!add({.kind = op_kind::group_end})) return false;
        p.ops[open].length = std::uint16_t(p.count - 1);
        return true;
      }
      default:
        --at;
        return fail("unknown item");
    }
  }
  // Items separated by commas, up to and including the closing parenthesis.
  constexpr bool list(int depth) {
    skip_blanks();
    if (at < int(s.size()) && s[at] == ')') {
      ++at;
      return true;
    }
    for (;;) {
      if (!item(depth)) return false;
      skip_blanks();
      if (at >= int(s.size())) return fail("the template is not closed");
      const char c = s[at++];
      if (c == ')') return true;
      if (c != ',') {
        --at;
        return fail("a comma is missing between items");
      }
    }
  }
};

}  // namespace detail

// Parses a template; `error` in the result is null when it is well-formed.
constexpr record_program parse_template(std::string_view text) {
  detail::template_parser parser{text, 0, {.text = text}};
  parser.skip_blanks();
  if (parser.at >= int(text.size()) || text[parser.at] != '(') {
    parser.fail("a template begins with a parenthesis");
  } else {
    ++parser.at;
    if (parser.list(0)) {
      parser.skip_blanks();
      if (parser.at != int(text.size())) parser.fail("text after the closing parenthesis");
    }
  }
  return parser.p;
}

// One step of a template walk: a literal, a skip or a data field.
struct template_item {
  op_kind kind = op_kind::literal;
  int width = 0;
  int decimals = 0;
  std::string_view literal;  // as written: a doubled quote is still doubled
  char quote = '\'';
};

// Walks a parsed template item by item, expanding repeat counts and
// groups, with a fixed stack and no allocation.
struct template_cursor {
  const record_program* p;
  int pc = 0;
  int left = 0;  // repeats still due of the data field at pc
  struct frame {
    int begin;
    int left;
  } stack[max_group_depth]{};
  int depth = 0;

  constexpr explicit template_cursor(const record_program& program) : p(&program) {}

  // Gives the next item; false at the end of the template.
  constexpr bool next(template_item& out) {
    for (;;) {
      if (pc >= p->count) return false;
      const template_op& op = p->ops[pc];
      switch (op.kind) {
        case op_kind::group:
          stack[depth++] = {pc, op.repeat};
          ++pc;
          continue;
        case op_kind::group_end:
          if (--stack[depth - 1].left > 0) {
            pc = stack[depth - 1].begin + 1;
          } else {
            --depth;
            ++pc;
          }
          continue;
        case op_kind::literal:
          out.kind = op.kind;
          out.literal = p->text.substr(op.width, op.length);
          out.quote = p->text[op.width - 1];
          ++pc;
          return true;
        case op_kind::skip:
          out.kind = op.kind;
          out.width = op.width;
          ++pc;
          return true;
        default:
          if (left == 0) left = op.repeat;
          out.kind = op.kind;
          out.width = op.width;
          out.decimals = op.decimals;
          if (--left == 0) ++pc;
          return true;
      }
    }
  }
};

// The kinds of a statement's values, in order: 'I', 'F' or 'A'.
// True when the template's data fields are exactly those, one for one;
// `for_input` also refuses literal texts, which have no meaning in a read.
constexpr bool fields_match(const record_program& p, std::string_view kinds, bool for_input) {
  template_cursor cursor(p);
  template_item it;
  std::size_t n = 0;
  while (cursor.next(it)) {
    char want = 0;
    switch (it.kind) {
      case op_kind::integer: want = 'I'; break;
      case op_kind::real: want = 'F'; break;
      case op_kind::text: want = 'A'; break;
      case op_kind::literal:
        if (for_input) return false;
        continue;
      default: continue;
    }
    if (n >= kinds.size() || kinds[n] != want) return false;
    ++n;
  }
  return n == kinds.size();
}

// The columns of a template whose items are all I and F fields: such a
// record is its fields side by side, so its width and every field's place
// are known when the tool is compiled, and a write needs no walk.
inline constexpr int max_fixed_fields = 16;

struct fixed_field {
  std::uint16_t at = 0;     // first column, from 0
  std::uint16_t width = 0;
  std::uint8_t decimals = 0;
};

struct fixed_layout {
  bool fixed = false;       // false: the template has other items, or too many
  std::uint16_t width = 0;  // of the whole record, without its line feed
  std::uint8_t count = 0;
  fixed_field fields[max_fixed_fields]{};
};

constexpr fixed_layout layout_of(const record_program& p) {
  fixed_layout out;
  if (p.error) return out;
  template_cursor cursor(p);
  template_item it;
  int at = 0;
  while (cursor.next(it)) {
    if ((it.kind != op_kind::integer && it.kind != op_kind::real) || out.count == max_fixed_fields)
      return fixed_layout{};
    fixed_field& f = out.fields[out.count++];
    f.at = std::uint16_t(at);
    f.width = std::uint16_t(it.width);
    f.decimals = std::uint8_t(it.decimals);
    at += it.width;
    if (at > 4096) return fixed_layout{};
  }
  out.fixed = out.count > 0;
  out.width = std::uint16_t(at);
  return out;
}

}  // namespace zeb
