#pragma once

#include <QString>
#include <compare>
#include <optional>
#include <string>

// Questions about single files; none of them changes anything, and none
// ever opens what is not a regular file.

// True when the path names an existing file or folder; never fails.
bool PathExists(const QString& path);
// True when the path is a folder; never fails.
bool IsFolder(const QString& path);
// True when the path opens as an existing file (not a folder); any name
// the file system holds works. Never fails.
bool IsExistingFile(const QString& path);
// Why the path cannot be read as a regular file ("the file is missing", "it
// is not a regular file", ...); empty when it can. Never waits.
QString FileProblem(const QString& path);
// Opens a regular file for reading without ever waiting, and without ever
// opening anything else. Returns -1 with errno set, and EINVAL for anything
// that is not a regular file.
int OpenRegularFile(const QString& path);

// True when the path names exactly one file the system can reach by these
// bytes: no NUL, and no name in it that stands for a stored name which is
// not valid text (the system would show that one with the same characters).
bool IsFaithfulPath(const QString& path);

// A path's attributes in the numbers the program reasons with: 1 read-only
// (the user may not write it), 2 hidden (the name begins with "."), 16
// folder, 32 archive (every regular file). No file is a system file here.
// -1 when the path cannot be examined.
inline constexpr int kAttributeReadOnly = 1;
inline constexpr int kAttributeHidden = 2;
inline constexpr int kAttributeFolder = 16;
inline constexpr int kAttributeArchive = 32;
int FileAttributes(const QString& path);

// What makes a file the same file under any of its names: links, doubled
// separators and symbolic links all lead to one identity. Where the file
// system may fold case (FAT, exFAT, network shares, FUSE), spellings of a
// name get inode numbers of their own, so there a file is known by its
// device and its case-folded real path instead, with inode 0.
struct FileId {
  unsigned long long device = 0;
  unsigned long long inode = 0;
  std::string folded;
  auto operator<=>(const FileId&) const = default;
};

// True where names in the folder that differ only in case may lead to one
// file.
bool MayFoldCase(const QString& folder);

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
