#pragma once

#include <QString>

// True when the path names an existing file or folder; never fails.
bool PathExists(const QString& path);
