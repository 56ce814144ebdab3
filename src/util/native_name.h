#pragma once

#include <QByteArray>
#include <QString>

// The bytes to hand the system for a path. A path holding NUL would be cut
// there and name another file, so it gets an empty name, which every system
// call refuses; so does the empty path.
QByteArray NativeName(const QString& path);

// True when the path names exactly one file the system can reach by these
// bytes: no NUL, and no name in it that stands for a stored name which is
// not valid text (the system would show that one with the same characters).
bool IsFaithfulPath(const QString& path);
