// Untrusted text through the text layer's parsers: the first byte picks
// one; the rest is a template, a fixed field or free-form input. Every
// input is also a free-form token fed to a number_reducer in pieces: the
// short token it gives must read as the whole one does.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "fuzz_support.h"
#include "text.h"

const char zeb::tool_name[] = "text_layer_fuzz";

namespace {

void template_walk(std::string_view text) {
  const zeb::record_program p = zeb::parse_template(text);
  if (p.error) return;
  // Write one record of each kind of value into an internal record. Repeat
  // counts multiply: a template that walks too long, or writes more than
  // the record holds (an unguarded failure by design), is passed over.
  static char record[1 << 20];
  zeb::value values[64];
  int count = 0;
  std::size_t width = 0;
  int steps = 0;
  zeb::template_cursor cursor(p);
  zeb::template_item it;
  while (cursor.next(it)) {
    if (++steps > 100000) return;
    width += it.kind == zeb::op_kind::literal ? it.literal.size() : std::size_t(it.width);
    if (it.kind == zeb::op_kind::text && it.width == 0) width += 4;
    if (count == 64) continue;
    if (it.kind == zeb::op_kind::integer) values[count++].i = -12345;
    else if (it.kind == zeb::op_kind::real) values[count++].f = 1.5e10f;
    else if (it.kind == zeb::op_kind::text) values[count++].a = {"text", 4};
  }
  if (width > sizeof record) return;
  zeb::write_record(std::span<char>(record, sizeof record), p, values, count);
}

void free_form(std::string_view text) {
  static auto ch = std::make_unique<zeb::channel>();
  ch->fd = memfd_create("fuzz", 0);
  if (::write(ch->fd, text.data(), text.size()) != ssize_t(text.size())) std::abort();
  ::lseek(ch->fd, 0, SEEK_SET);
  ch->begin = ch->end = 0;
  ch->at_end = ch->dropping = false;
  ch->line = 0;
  ch->label = "fuzz";
  std::int32_t i = 0;
  float f = 0;
  char a[7];
  while (zeb::read_free_form(*ch, i, f, a, f, i) == zeb::outcome::done) {
  }
  ::close(ch->fd);
}

}  // namespace

void reduced_token(std::string_view text, unsigned piece) {
  zeb::number_reducer r;
  for (std::size_t at = 0; at < text.size(); at += piece)
    r.take(text.data() + at, std::min<std::size_t>(piece, text.size() - at));
  const std::string_view shorter = r.text();
  std::int32_t i = 0, j = 0;
  float f = 0, g = 0;
  const bool integer = zeb::get_integer(text, false, i);
  FUZZ_CHECK(zeb::get_integer(shorter, false, j) == integer);
  if (integer) FUZZ_CHECK(i == j);
  const bool real = zeb::get_real(text, false, 0, f);
  FUZZ_CHECK(zeb::get_real(shorter, false, 0, g) == real);
  if (real) FUZZ_CHECK(fuzz::same_float(f, g));
  bool digits = !text.empty();
  for (char c : text) digits = digits && c >= '0' && c <= '9';
  FUZZ_CHECK(r.all_digits() == digits);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  reduced_token(text, data[0] % 16 + 1);
  std::int32_t i;
  float f;
  switch (data[0] % 4) {
    case 0: template_walk(text); break;
    case 1: free_form(text); break;
    case 2: zeb::get_integer(text, true, i); break;
    case 3:
      if (zeb::get_real(text, true, data[0] % 9, f)) {
        char out[40];
        zeb::put_real(out, f, 40, data[0] % 12);
      }
      break;
  }
  return 0;
}
