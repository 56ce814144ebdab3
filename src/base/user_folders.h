#pragma once

#include <QString>

// The user's own folders, found without trusting an empty or unset HOME:
// a session started without one (a service, `env -i`) still has a home in
// the password database.

// HOME when it is set to an absolute path, otherwise the home folder the
// password database gives the user.
QString HomeFolder();
// $XDG_CONFIG_HOME when absolute, otherwise HomeFolder() + "/.config".
QString ConfigFolder();
// $XDG_CACHE_HOME when absolute, otherwise HomeFolder() + "/.cache".
QString CacheFolder();
