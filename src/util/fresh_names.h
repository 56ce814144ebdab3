#pragma once

#include <QByteArray>
#include <functional>

// The names the program gives what it makes in shared folders: a prefix
// and random letters and digits, so that a later run can tell its own.

// `prefix` followed by `count` random letters and digits.
QByteArray FreshName(const QByteArray& prefix, int count);
// True when `name` is `prefix` followed by exactly `count` letters or
// digits, as FreshName makes them.
bool IsFreshName(const char* name, const char* prefix, size_t count);

// Calls `visit` with the name of each entry of the open folder, "." and
// ".." left out; the descriptor stays open and usable.
void ForEachEntry(int folder_fd, const std::function<void(const char*)>& visit);
