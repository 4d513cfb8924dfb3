#!/usr/bin/env bash
# zeb_nth_line: which line comes out and how it is trimmed, n of 0 or less,
# and the unguarded failures that leave standard output empty.
source "$2/tests/harness.sh"

x200=$(printf 'x%.0s' {1..200})
# Lines: 1 "first", 2 "  lead", 3 "trail   ", 4 empty, 5 blanks, 6 a tab at
# the end, 7 250 characters, 8 the last, without a line feed.
make_file() {
  printf 'first\n  lead\ntrail   \n\n    \ntab\t  \n%s\nlast' "${x200}yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy" >lines.txt
}

# pick NAME ANSWERS EXPECTED: a run that prints one line.
pick() {
  begin "$1"
  make_file
  run "$2" zeb_nth_line
  expect_out "$3"
  expect_status 0
  expect_no_err
}

pick "the first line" 'lines.txt\n1\n' 'first\n'
pick "leading blanks stay" 'lines.txt\n2\n' '  lead\n'
pick "trailing blanks go" 'lines.txt\n3\n' 'trail\n'
pick "an empty line prints one blank" 'lines.txt\n4\n' ' \n'
pick "a line of blanks prints one blank" 'lines.txt\n5\n' ' \n'
pick "a tab at the end is text" 'lines.txt\n6\n' 'tab\t\n'
pick "a long line is cut to 200" 'lines.txt\n7\n' "$x200\n"
pick "the last line without line feed" 'lines.txt\n8\n' 'last\n'

# n by free-form input: on a later line, with other separators, or unset.
pick "n on a later line" 'lines.txt\n\n  \n 2 \n' '  lead\n'
pick "n followed by more" 'lines.txt\n3, 9 words\n' 'trail\n'
pick "n after a run of blanks longer than the buffer" "lines.txt\n$(printf '%70000s' '')2\n" '  lead\n'
pick "n of 0 prints the file name" 'lines.txt\n0\n' 'lines.txt\n'
pick "a negative n prints the file name" 'lines.txt\n-5\n' 'lines.txt\n'
pick "n left unset by a slash counts as 0" 'lines.txt\n/\n' 'lines.txt\n'
pick "n left unset by an empty value counts as 0" 'lines.txt\n,\n' 'lines.txt\n'
pick "blanks inside a file name belong to it" 'lines.txt   \n1\n' 'first\n'

begin "leading and inner blanks of a file name belong to it"
printf 'q\n' >' a b'
run ' a b  \n1\n' zeb_nth_line
expect_out 'q\n'
expect_status 0

# A longer name is refused, never cut to name another file.
begin "a file name of 200 characters is taken whole, a longer one refused"
printf 'z\n' >"$x200"
run "${x200}   \n1\n" zeb_nth_line
expect_out 'z\n'
expect_end 0 ''
run "${x200}\n0\n" zeb_nth_line
expect_out "$x200\n"
run "${x200}tail\n1\n" zeb_nth_line
expect_out ''
expect_unguarded "^zeb_nth_line: ${x200}tail: name longer than 200 characters\$"
# Text past the whole field, after blanks, still makes the name too long.
past=$(printf 'lines.txt%5000sX' '')
run "$past\n1\n" zeb_nth_line
expect_out ''
expect_unguarded "^zeb_nth_line: ${past:0:255}: name longer than 200 characters\$"

# Unguarded failures: one diagnostic, status 2, nothing on standard output.
fails() {
  begin "$1"
  make_file
  run "$2" zeb_nth_line
  expect_out ''
  expect_unguarded "$3"
}
fails "n one past the last line" 'lines.txt\n9\n' '^zeb_nth_line: lines.txt: '
fails "no such file, even for n of 0" 'missing.txt\n0\n' '^zeb_nth_line: missing.txt: No such file'
fails "a directory" '.\n1\n' '^zeb_nth_line: \.: '
fails "n is not an integer" 'lines.txt\nthree\n' '^zeb_nth_line: standard input: .*three'
fails "n beyond 32 bits" 'lines.txt\n2147483648\n' '^zeb_nth_line: standard input: '
fails "no n" 'lines.txt\n' '^zeb_nth_line: standard input: '
fails "no input at all" '' '^zeb_nth_line: standard input: '

begin "standard output full"
make_file
printf 'lines.txt\n1\n' | "$BIN/zeb_nth_line" >/dev/full 2>err
status=$?
expect_unguarded '^zeb_nth_line: standard output: No space left on device$'

summary
