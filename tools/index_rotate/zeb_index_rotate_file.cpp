// zeb_index_rotate_file: asks for an input file name, an output file name and
// whether the input begins with a head line, then copies the input's
// three-value reflection records into a new output file with the indexes
// rotated to k l h. Ends with exactly one closing line on standard output:
// the count of records copied, or which failure stopped it (status 0 both
// ways). Arguments are ignored.
#include <climits>
#include <cstdint>
#include <limits>
#include <string_view>

#include "command_line.h"
#include "reflection.h"
#include "text.h"

const char zeb::tool_name[] = "zeb_index_rotate_file";

// What --help prints.
constexpr std::string_view usage =
    "Usage: printf '%s\\n' INPUT OUTPUT HEAD | zeb_index_rotate_file\n"
    "\n"
    "Copies a reflection file (h k l and three reals per record, free-form)\n"
    "into a new file with the indexes rotated to k l h, as\n"
    "(3I6,F12.1,F12.1,F12.3). Asks on standard output for three answers on\n"
    "standard input, in this order, and echoes each as \" read:...\":\n"
    "  1. the input file name    the whole line: blanks and quotes are part of it\n"
    "  2. the output file name   the whole line; the file must not exist\n"
    "  3. head line?             free-form integer: 1 copies the first line as\n"
    "                            it is, anything else copies none\n"
    "\n"
    "A name longer than 190 characters is refused, never cut.\n"
    "\n"
    "Ends with one line on standard output and status 0: the count of\n"
    "reflections copied, \"::zeb_index_rotate_file: ERROR on file opening\"\n"
    "(no file created) or \"::zeb_index_rotate_file: ERROR on reading\";\n"
    "before either failure line, one line on standard error says why.\n"
    "Status 2, with one line on standard error, when an answer is missing or\n"
    "the head answer is not an integer, or a write fails.\n";

namespace {

// The most of a name the tool keeps; a longer name is refused.
constexpr std::size_t name_length = 190;

// The trimmed text of the first `length` characters of a field, as the A
// item of an echo or a copied line.
std::string_view trimmed(std::span<const char> field, std::size_t length) {
  return std::string_view(field.data(), std::size_t(zeb::shorten(field.first(length))));
}

[[noreturn]] void stop_with_opening_failure(const zeb::channel& file) {
  zeb::explain_open(file);
  zeb::write_templated<"('::zeb_index_rotate_file: ERROR on file opening')">(zeb::std_out);
  zeb::normal_stop();
}

[[noreturn]] void stop_with_reading_failure(const zeb::channel& input, zeb::outcome o) {
  zeb::explain_read(input, o);
  zeb::write_templated<"('::zeb_index_rotate_file: ERROR on reading')">(zeb::std_out);
  zeb::normal_stop();
}

}  // namespace

int main(int argc, char** argv) {
  zeb::answer_help_or_version(argc, argv, zeb::tool_name, usage);
  zeb::hint_at_terminal(zeb::tool_name, "its three answers, one a line");
  // Each name line is read whole, into a field that holds any name the
  // system can open: one longer than the tool keeps is then refused at its
  // open, never cut to name another file.
  char input_name[PATH_MAX];
  char output_name[PATH_MAX];
  char head_line[200];
  // A slash or an empty value leaves the answer as it is: no head line.
  std::int32_t head_answer = 0;
  reflection record{};
  static zeb::channel input;
  static zeb::channel output;

  // The whole dialogue comes first: nothing is opened before all three
  // answers are in, so a script that feeds too few answers leaves no file.
  zeb::write_templated<"(' zeb_index_rotate_file: Give input file name')">(zeb::std_out);
  zeb::require(zeb::read_name_line(zeb::std_in, input_name), zeb::std_in);
  zeb::write_templated<"(' read:',A)">(zeb::std_out, trimmed(input_name, name_length));

  zeb::write_templated<"(' zeb_index_rotate_file: Give output file name')">(zeb::std_out);
  zeb::require(zeb::read_name_line(zeb::std_in, output_name), zeb::std_in);
  zeb::write_templated<"(' read:',A)">(zeb::std_out, trimmed(output_name, name_length));

  zeb::write_templated<"(' zeb_index_rotate_file: Head line ? (1=y,0=n) ')">(zeb::std_out);
  zeb::require(zeb::read_free_form(zeb::std_in, head_answer), zeb::std_in);
  zeb::write_templated<"(' read:',I3)">(zeb::std_out, head_answer);

  // The output is created only once the input is known to open, and never
  // over an existing file.
  if (!zeb::open_old(input, input_name, name_length)) stop_with_opening_failure(input);
  if (!zeb::open_new(output, output_name, name_length)) stop_with_opening_failure(output);

  if (head_answer == 1) {
    zeb::require(zeb::read_templated<"(A180)">(input, head_line), input);
    zeb::write_templated<"(A)">(output, trimmed(head_line, sizeof head_line));
  }

  std::int32_t count = 0;
  for (;;) {
    const zeb::outcome o = read_reflection(input, record, layout::three_values);
    if (o == zeb::outcome::error) stop_with_reading_failure(input, o);
    if (o == zeb::outcome::end_of_file) {
      // Values read before the end belong to a record the input cut short:
      // dropping them without a word would pass a damaged file as whole.
      if (input.items_read > 0) stop_with_reading_failure(input, o);
      zeb::close_channel(input);
      zeb::close_channel(output);
      break;
    }
    write_reflection(output, record, layout::three_values);
    // Past 9999999 the count shows as asterisks anyway; holding it at the
    // top keeps it defined.
    if (count < std::numeric_limits<std::int32_t>::max()) ++count;
  }
  zeb::write_templated<"(':zeb_index_rotate_file: permutated ',I7,' reflections.')">(zeb::std_out, 
                       count);
  zeb::normal_stop();
}
