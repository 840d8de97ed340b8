// Windows command lines and response files, as texts.  Pure functions on
// UTF-8, with nothing of Windows in them, so that the tests check them on
// every host; the Windows back-end and front-ends use them.
//
// A Windows program receives one command line, which its C runtime splits
// into arguments; command_line_* write the line that the runtime's rules
// split back into exactly the vector given:
//  - an argument without space, tab, newline, vertical tab or '"', and not
//    empty, stands as it is (backslashes too: they are literal there);
//  - any other is put in double quotes, each '"' written \", a run of n
//    backslashes before a '"' or before the closing quote doubled (2n, then
//    \" for the quote), a run elsewhere left alone;
//  - argument 0, the program, is split by other rules (quotes only, no
//    backslash escapes), so it is always quoted and never escaped: a
//    Windows file name holds no '"'.
//
// binutils' ar, nm and ranlib read a response file (@file) as words
// separated by white space, in which single and double quotes group and a
// backslash takes the next character as it is, on every host.
#pragma once

#include <stddef.h>

// Bytes that argument i takes on the command line, the separating space
// not counted.
size_t command_line_argument_length(const char *argument, bool is_program);

// The whole command line for argv (null-terminated), arguments separated
// by one space: a new string from must_malloc.
char *command_line_from_argv(char *const *argv);

// Characters (UTF-16 code units) the UTF-8 text takes once widened: what
// the system's limit of 32,767 counts.
size_t command_line_utf16_length(const char *text);

// The longest command line Windows passes to a child, the terminator not
// counted.
constexpr size_t command_line_limit = 32766;

// The text of a response file that gives back the arguments of argv (up
// to the null pointer), one per line: each in double quotes, with '\\'
// and '"' behind a backslash.  A new string from must_malloc.
char *response_file_text(char *const *argv);
