// Finds the desktop user and display by running the package root's xpub.sh
// and reading its KEY=VALUE output lines.
#pragma once

#include <stdio.h>

// Takes one output line: when its key equals a wanted key or is a non-empty
// beginning of one, the first such key's slot gets a copy of the value (one
// trailing newline removed).  Returns false only when the copy fails.
bool probe_take_line(const char* const* keys, char** results, int nkeys, const char* line);

// Reads lines until end of file; returns how many wanted keys got a value,
// or -1 when a copy fails.
int probe_read(FILE* in, const char* const* keys, char** results, int nkeys);

// How long the script may run before its process group is killed.
#ifndef PROBE_SECONDS
#define PROBE_SECONDS 10
#endif
// Most of the script's output that is looked at.
#define PROBE_OUTPUT_MAX 65536

// Runs the script as the current user and collects the wanted keys.
int probe_active_user(const char* const* keys, char** results, int nkeys);
