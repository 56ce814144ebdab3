#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class Dialogs;
class SettingsStore;
class WindowPointer;

// The folder walk and its helpers (module AddFolder). A folder collection
// holds folder paths, each ending in the separator.

// Extends the collection in place by every folder below its entries,
// breadth first. A folder that may not be listed is dropped from the
// collection without a word; other failures are reported and the walk goes
// on. A link to a folder is not walked (a collection entry that is itself
// a link is), and a folder reached a second time is not walked again.
void GetSubDirectories2016(QStringList& collection, bool recurse,
                           Dialogs& dialogs);

// The names of the existing files (not folders) in the folder that match
// the pattern, without regard to case, in the order the file system lists
// them. "*" matches any run of characters, "?" any one; "*.*" also matches
// a name without a dot. None when the folder cannot be listed. Stops after
// `most` names when that is not negative.
QStringList ListFilesInFolder(const QString& folder, const QString& pattern,
                              int most = -1);

// True when a folder name holds a character the walk does not accept: a
// control character (below 32, or 127 to 159) or "?".
bool HasUnsafeChars(const QString& name);

// Runs one numbered statement of a procedure: the button's trap, or for a
// drop a plain call that passes over what fails.
using Statement = std::function<void(int line, const std::function<void()>&)>;

// Hands each row on to be queued.
using AppendRow = std::function<void(const QString& path)>;

// Hands on every file in the collection's folders that matches the
// pattern, folder by folder in collection order: names beginning with "~"
// and files whose attributes are exactly hidden and archive are left out.
void AppendFilesOfFolders(const QStringList& collection, const QString& pattern,
                          const AppendRow& append, const Statement& statement);

// The folder text a collection holds for a folder: with one trailing
// separator.
QString CollectionEntry(const QString& folder);

// "Add All File(s) In Folder".
void AddAllFilesInFolder(Dialogs& dialogs, const AppendRow& append,
                         WindowPointer& pointer, const SettingsStore& store);
