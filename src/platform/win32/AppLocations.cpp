#include "platform/AppLocations.h"

// clang-format off
// windows.h first: the known-folder header needs its types.
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
// clang-format on

#include <filesystem>
#include <system_error>

#include "platform/Paths.h"
#include "platform/win32/Text.h"

namespace tarnset {

namespace fs = std::filesystem;

namespace {

// A folder the system knows by its id, in UTF-8; empty when it has none.
std::string knownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::string folder;
  if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path)) && path != nullptr) {
    folder = win32::utf8(path);
  }
  CoTaskMemFree(path);
  return folder;
}

// True when a new file can be made in dir: the only sure test on this system, where the
// read-only attribute of a folder says nothing and Program Files refuses ordinary users.
bool canCreateFileIn(const std::string& dir) {
  const std::wstring probe = (pathFromUtf8(dir) / L".tarnset-probe.tmp").native();
  const HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

// The full path of a folder without a separator at its end ("C:\Program Files").
std::wstring fullFolder(const std::string& dir) {
  const std::wstring wide = win32::widen(dir);
  std::wstring full(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0) return {};
    if (n < full.size()) {
      full.resize(n);
      break;
    }
    full.resize(n + 1);
  }
  while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
  return full;
}

}  // namespace

ConfigEnv ConfigEnv::fromProcess() {
  ConfigEnv env{std::nullopt, std::nullopt, std::nullopt};
  if (std::string folder = knownFolder(FOLDERID_RoamingAppData); !folder.empty()) env.appData = folder;
  return env;
}

bool isUnderFolders(const std::string& dir, const std::vector<std::string>& folders) {
  const std::wstring d = fullFolder(dir);
  if (d.empty()) return false;
  for (const std::string& f : folders) {
    const std::wstring root = f.empty() ? std::wstring() : fullFolder(f);
    // A drive's root ("C:\") would make every folder on it a system one.
    if (root.size() <= 3 || root.size() > d.size()) continue;
    const bool sameStart = CompareStringOrdinal(d.data(), static_cast<int>(root.size()), root.data(),
                                                static_cast<int>(root.size()), TRUE) == CSTR_EQUAL;
    if (sameStart && (d.size() == root.size() || d[root.size()] == L'\\' || d[root.size()] == L'/'))
      return true;
  }
  return false;
}

std::vector<std::string> programFolders(const std::string& /*prefix*/) {
  std::vector<std::string> folders;
  // The user's own program folder, where a system that does not name it keeps it too.
  std::string user = knownFolder(FOLDERID_UserProgramFiles);
  if (const std::string local = knownFolder(FOLDERID_LocalAppData); user.empty() && !local.empty()) {
    user = pathToUtf8(pathFromUtf8(local) / "Programs");
  }
  if (!user.empty()) folders.push_back(std::move(user));
  for (const KNOWNFOLDERID* id : {&FOLDERID_ProgramFiles, &FOLDERID_ProgramFilesX86}) {
    if (std::string folder = knownFolder(*id); !folder.empty()) folders.push_back(std::move(folder));
  }
  return folders;
}

std::string optionsFilePath(const std::string& programDir, const ConfigEnv& env,
                            const std::vector<std::string>& systemFolders) {
  std::error_code ec;
  const fs::path beside = pathFromUtf8(programDir) / kOptionsFileName;
  if (!programDir.empty()) {
    if (fs::exists(beside, ec)) return pathToUtf8(beside);
    if (fs::is_directory(pathFromUtf8(programDir), ec) && !isUnderFolders(programDir, systemFolders) &&
        canCreateFileIn(programDir)) {
      return pathToUtf8(beside);
    }
  }
  // A relative folder would put the options wherever the program was started.
  if (!env.appData || env.appData->empty() || !pathFromUtf8(*env.appData).is_absolute()) {
    return pathToUtf8(beside);
  }
  const fs::path dir = pathFromUtf8(*env.appData) / "TarnsetADJ";
  fs::create_directories(dir, ec);
  return pathToUtf8(dir / kOptionsFileName);
}

std::string backupsFolder(const ConfigEnv& /*env*/, const std::string& optionsFile) {
  if (optionsFile.empty()) return {};
  return pathToUtf8(pathFromUtf8(optionsFile).parent_path() / "backups" / "");
}

}  // namespace tarnset
