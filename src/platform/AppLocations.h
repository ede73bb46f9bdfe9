#pragma once
// Where the program keeps its options file and its backups, and the environment that
// decides it.
#include <optional>
#include <string>
#include <vector>

namespace tarnset {

// The only environment variables the program reads; unset ones are empty.
struct ConfigEnv {
  std::optional<std::string> xdgConfigHome;               // XDG_CONFIG_HOME
  std::optional<std::string> xdgRuntimeDir;               // XDG_RUNTIME_DIR
  std::optional<std::string> home;                        // HOME
  std::optional<std::string> xdgDataHome = std::nullopt;  // XDG_DATA_HOME (backups)
  std::optional<std::string> appData = std::nullopt;      // Windows: the user's roaming application data

  // The values of this process's environment (on Windows the application data folder
  // as the system names it, whatever APPDATA says).
  static ConfigEnv fromProcess();
};

// The name of the options file.
inline const std::string kOptionsFileName = "TarnsetADJ.rs";

// True when dir is one of the system folders or lies below one (both taken as real paths;
// on Windows as full paths, letter case aside).
bool isUnderFolders(const std::string& dir, const std::vector<std::string>& folders);

// The folders where installed programs live, beside which an installed program keeps
// nothing of its own: /usr and prefix (the prefix the programs install under) here; on
// Windows the machine's program folders and the user's own (%LOCALAPPDATA%\Programs,
// where the per-user installer puts the programs), prefix aside.
std::vector<std::string> programFolders(const std::string& prefix);

// Full path of the options file: in programDir when a file of that name exists there, or
// when the folder is writable (a build tree or a portable copy) and not a system folder
// (below one of systemFolders: /usr, the install prefix; root may write there, but an
// installed program must not put its options beside itself); otherwise in
// $XDG_CONFIG_HOME/TarnsetADJ/ (default ~/.config/TarnsetADJ/), also for root, which is
// created when missing. On Windows: beside the program when the file exists there, or a
// file can be created there (a probe file, since the read-only attribute of a folder says
// nothing) and the program is not an installed one (below one of systemFolders),
// otherwise in the user's application data folder (%APPDATA%\TarnsetADJ\). Never fails:
// a folder that cannot be created still gives its path, and the options are then simply
// not saved.
std::string optionsFilePath(const std::string& programDir, const ConfigEnv& env,
                            const std::vector<std::string>& systemFolders = {"/usr"});

// The folder of the automatic backups of clone reads, ending in a separator:
// $XDG_DATA_HOME/TarnsetADJ/backups/ (a relative or empty value is ignored), default
// ~/.local/share/TarnsetADJ/backups/ (the home from HOME, else the password database);
// on Windows a folder "backups" beside optionsFile. Empty when there is no home folder
// either. Not created here: the backup store makes it when it first writes.
std::string backupsFolder(const ConfigEnv& env, const std::string& optionsFile = {});

}  // namespace tarnset
