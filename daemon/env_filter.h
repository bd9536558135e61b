// Keeps client-supplied entries that would make the dynamic loader, the
// shell or Wine load or run code out of the print tool's environment.
#pragma once

// True when the KEY=VALUE entry must not reach the print tool.
bool env_entry_unsafe(const char* entry);

// Removes unsafe entries from vec[0..n), keeping the others in order, and
// logs the name of each one removed.  Returns the number kept.
int filter_environment(char** vec, int n);
