// The program's locale, made one that is installed. A LANG or LC_* naming a
// locale that was never generated (common over SSH and in containers)
// leaves the C library in the "C" locale, whose character set is ASCII:
// paths with Japanese in them can then not be converted, and the office,
// started with the same variables, cannot store a file. C.UTF-8 is always
// installed; the program and every process it starts fall back to it.
#pragma once

namespace pendra {

// Sets the process's locale from the environment. When the environment
// names a locale that is not installed, sets LC_ALL=C.UTF-8 in the
// environment (for the processes started later) and uses that; returns
// true then.
bool UseInstalledLocale();

}  // namespace pendra
