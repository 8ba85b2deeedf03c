#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace brindle {

// Where the program keeps its files, computed from the environment at each
// call: $BRINDLE_HOME when set and not empty (both directories are it, for
// tests and portable use), else $XDG_CONFIG_HOME/brindle and
// $XDG_DATA_HOME/brindle (defaults ~/.config and ~/.local/share).
std::string ConfigDirectory();
std::string DataDirectory();
// True when $BRINDLE_HOME names the profile: a trial or portable copy.
bool ProfileInBrindleHome();

// The data directory with a trailing "/"; the files below live there.
std::string ApplicationDirectory();
std::string CategoriesFile();                    // "cat.dat"
std::string DefaultPartialDownloadsDirectory();  // "Partial Downloads", no trailing "/"
std::string MirrorListFile();                    // "mirrors.lst"
std::string RegistryFile();                      // config directory + "/registry.reg"

// One of the user's XDG folders (key such as "XDG_MUSIC_DIR"): the
// environment variable of that name, else the entry in
// $XDG_CONFIG_HOME/user-dirs.dirs; "" when neither names one.
std::string UserDirectory(std::string_view key);
// The user's download directory: UserDirectory("XDG_DOWNLOAD_DIR"), else
// ~/Downloads.
std::string DefaultDownloadDirectory();
// The key's entry of a user-dirs.dirs text with "$HOME" expanded; empty when
// there is none.
std::string UserDirectoryFromUserDirs(std::string_view text, std::string_view key, const std::string& home);

inline constexpr const char* kDefaultExtensionList =
    "exe arj rar lzh z gz gzip zip tar bin mp3 avi mpg mpeg qt plj asf mov wma wmv r0* r1* a0* a1* tif tiff";

// Creates path with every missing parent (new directories get mode, less the
// umask). True when the directory exists afterwards.
bool EnsureDirectory(const std::string& path, mode_t mode = 0755);

// 0 when a file can be created in dir, else the errno that says why not:
// a file of a fresh name is created there and removed at once.
int DirectoryWriteError(const std::string& dir);

// The directory part of a path: "." when it has none, "/" for the root.
std::string DirectoryOf(const std::string& path);
// The last component of a path.
std::string NameOf(const std::string& path);

// The bytes an unprivileged writer may still add to the file system of path
// (of its nearest existing ancestor when it does not exist yet); -1 when
// that cannot be learned. Test builds take $BRINDLE_FREE_SPACE instead when
// it is set, since no test can fill a disk.
int64_t FreeDiskSpace(const std::string& path);

}  // namespace brindle
