#pragma once

#include <functional>

// Ends the process at once, from any depth of nested event loops: no further
// handler runs and nothing is saved. The exit cleanups run first, newest
// first, so that a run in progress leaves no converter or working file.
[[noreturn]] void EndProcess();

// From now on TERM, HUP and INT (a desktop logging out, a terminal closed,
// Ctrl-C) end the process as EndProcess does, at the next handled event,
// and then by that signal. Needs the application object.
void EndProcessOnSignals();

// Registers a cleanup for EndProcess; returns a token for RemoveExitCleanup.
int AddExitCleanup(std::function<void()> cleanup);
void RemoveExitCleanup(int token);
