#pragma once

#include <QProcessEnvironment>

// The environment for a program a test runs under strace. LeakSanitizer stops
// the program's threads through ptrace when it exits, which fails while strace
// traces it and turns a clean exit into a failure: such a program is checked
// for memory errors and undefined behaviour, not for leaks.
QProcessEnvironment tracedEnvironment();
