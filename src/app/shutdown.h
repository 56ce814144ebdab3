#pragma once

// Ends the process at once, from any depth of nested event loops: no further
// handler runs and nothing is saved.
[[noreturn]] void EndProcess();
