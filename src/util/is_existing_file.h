#pragma once

#include <QString>

// True when the path opens as an existing file (not a folder); any name
// the file system holds works. Never fails.
bool IsExistingFile(const QString& path);
