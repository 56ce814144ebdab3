#pragma once

#include <QString>
#include <compare>
#include <optional>

// What makes a file the same file under any of its names: links, doubled
// separators and symbolic links all lead to one identity.
struct FileId {
  unsigned long long device = 0;
  unsigned long long inode = 0;
  auto operator<=>(const FileId&) const = default;
};

// A file's identity with its size and times: a file that another program
// replaced may reuse the identity, but not all of these.
struct FileStamp {
  FileId id;
  long long size = 0;
  long long modified_ns = 0;
  long long changed_ns = 0;
  bool operator==(const FileStamp&) const = default;
};

// The identity of the file the path leads to; none when nothing is there.
std::optional<FileId> IdentityOf(const QString& path);
// The same, for a folder only: none for anything else.
std::optional<FileId> FolderIdentityOf(const QString& path);
// The stamp of the file the path leads to; none when nothing is there.
std::optional<FileStamp> StampOf(const QString& path);
