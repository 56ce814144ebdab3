#pragma once

#include <QByteArray>
#include <QString>

// Path strings: nothing here touches the file system. Paths use the
// platform's separator; nothing resolves or normalises beyond what each
// helper says.

// The path up to and including its last separator; empty when it has none.
QString FolderPart(const QString& path);
// The part after the last separator; the whole path when it has none.
QString FileNamePart(const QString& path);
// The name without its last "." and what follows, unless that dot leads.
QString StripExtension(const QString& name);
// Doubled separators made single in one left-to-right pass. A leading run of
// two or more (a network prefix) comes back as exactly two; a single leading
// separator stays single.
QString CollapseBackslashes(const QString& path);
// The folder and the name joined by one separator; the root already ends
// in one.
QString JoinPath(const QString& folder, const QString& name);

// The bytes to hand the system for a path. A path holding NUL would be cut
// there and name another file, so it gets an empty name, which every system
// call refuses; so does the empty path.
QByteArray NativeName(const QString& path);
