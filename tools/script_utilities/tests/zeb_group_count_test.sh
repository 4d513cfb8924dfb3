#!/usr/bin/env bash
# zeb_group_count: group names and counts, the quirks scripts rely on, long
# lines and large counts, and the error paths.
source "$2/tests/harness.sh"

# groups NAME INPUT EXPECTED: a run that ends normally.
groups() {
  begin "$1"
  run "$2" zeb_group_count
  expect_out "$3"
  expect_status 0
  expect_no_err
}
blanks() { printf "%$1s" ''; }
x199=$(printf 'x%.0s' {1..199})

# Plain runs of equal names.
groups "empty input" '' '    1 images in \n'
groups "two groups" 'a/1\na/2\nb/1\n' '    2 images in a\n    1 images in b\n'
groups "a name comes back later" 'a/1\nb/1\na/2\n' '    1 images in a\n    1 images in b\n    1 images in a\n'
groups "last line without line feed" 'a/1\na/2' '    2 images in a\n'
groups "only the first slash counts" 'a/b/c\na/d\n' '    2 images in a\n'

# The comparison runs over the new line's name only; the record carries
# the name of the group's last line.
groups "shorter name continues the group" 'abcd/1\nabc/2\nabcd/3\n' \
  '    2 images in abc\n    1 images in abcd\n'
groups "longer name starts a group" 'abc/1\nabcd/2\n' '    1 images in abc\n    1 images in abcd\n'
groups "blanks before the slash belong to the name" ' a/1\na/2\na  /3\n' \
  '    1 images in  a\n    2 images in a  \n'

# Empty and blank names match the blank name before the first line.
groups "lines beginning with a slash" '/1\n/2\n/3\n' '    4 images in  \n'
groups "a first empty group is dropped" '/1\nb/1\n' '    1 images in b\n'
groups "an empty first line" '\nb/1\nb/2\n' '    2 images in b\n'
groups "an empty line alone" '\n' "    2 images in $(blanks 199)\n"
groups "an empty line after a group" 'a/1\n\n' "    1 images in a\n    1 images in $(blanks 199)\n"
groups "an empty name after a group" 'a/1\n/2\n' '    1 images in a\n    1 images in  \n'

# Only positions 1 to 199 can hold the slash or the name.
groups "a line without a slash" 'xyz\n' "    1 images in xyz$(blanks 196)\n"
groups "a slash at position 199" "${x199:1}/z\n" "    1 images in ${x199:1}\n"
groups "a slash at position 200 is not seen" "$x199/z\n${x199}q\n" "    2 images in $x199\n"
groups "a line of 250 characters" "${x199}yyyyyyyyyyyyyyyyy/1\n" "    1 images in $x199\n"

begin "counts up to 99999, asterisks from 100000 on"
yes c/1 | head -n 99999 >in
printf 'd/1\n' >>in
yes e/1 | head -n 100000 >>in
STDIN_FILE=in run - zeb_group_count
expect_out '99999 images in c\n    1 images in d\n***** images in e\n'
expect_status 0

# A read error ends the tool with the error record, status 0.
begin "standard input cannot be read"
STDIN_FILE=. run - zeb_group_count
expect_out ' ======== ERROR OCCURRED in zeb_group_count ========\n'
expect_end 0 'standard input: Is a directory'

if strace -o /dev/null true 2>/dev/null; then
  begin "a read error after some groups loses the open group"
  printf 'a/1\na/2\nb/1\n' >in
  # Only reads of that file count: a dynamic loader reads files too.
  strace -o /dev/null -P "$PWD/in" -e trace=read -e inject=read:error=EIO:when=2 \
    "$BIN/zeb_group_count" <in >out 2>err
  status=$?
  expect_out '    2 images in a\n ======== ERROR OCCURRED in zeb_group_count ========\n'
  last_tool=zeb_group_count
  expect_end 0 'standard input: Input/output error'
else
  skip_cases "the read error after some groups needs strace"
fi

begin "standard output full"
printf 'a/1\n' | "$BIN/zeb_group_count" >/dev/full 2>err
status=$?
expect_unguarded '^zeb_group_count: standard output: No space left on device$'

summary
