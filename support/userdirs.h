// Where the programs keep and find their files on a desktop: the user's folders after
// the XDG base-directory rules, and the folders of an installed copy (shared data, the
// capture plug-ins, the helper programs) found from where this library is loaded, so
// an installed tree works wherever it was unpacked.
#ifndef SAPIOLUX_USERDIRS_H
#define SAPIOLUX_USERDIRS_H

#include <string>

namespace userdirs {

// $XDG_DATA_HOME, else $HOME/.local/share; empty when neither gives an absolute path
// (a relative XDG value is ignored, as the XDG rules ask).
std::string dataHome();
// $XDG_CONFIG_HOME, else $HOME/.config; empty as above.
std::string configHome();
// $XDG_RUNTIME_DIR when it is an absolute path naming a folder, else empty.
std::string runtimeDir();

// The user's personal server folder: dataHome()/sapiolux/personal (empty without a
// data home).
std::string personalServerHome();

// A configured folder name with its user part expanded: a leading "~" or "~/", or a
// leading $HOME, $XDG_DATA_HOME, $XDG_CONFIG_HOME or $XDG_RUNTIME_DIR (also written
// with braces) becomes that folder; the XDG names take their defaults when unset.
// Anything else is returned as it is. A name whose folder is unknown (no HOME) is
// returned as it is, so it fails visibly instead of pointing somewhere else.
std::string expandUserFolder(const std::string& name);

// The folders of an installed copy, relative to the installed support library. Each
// is returned only when it exists; empty otherwise (e.g. in a build tree).
enum class Installed { Data, Plugins, Helpers };
std::string installedFolder(Installed which);

// Creates FOLDER and its missing parents, new ones private to the user (0700).
// True when the folder exists afterwards.
bool makePrivateFolders(const std::string& folder);

}  // namespace userdirs

#endif
