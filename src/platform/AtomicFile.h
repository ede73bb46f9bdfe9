#pragma once
// Writing a whole file in one step, so that a crash, a full disk or a pulled plug never
// leaves a file at the path that holds part of the new content.
#include <string>

namespace tarnset {

// Writes content as the whole file at path. The text goes to a temporary file beside it
// (".<name>.tmp-<pid>-<n>", with the mode and the owner of the file it replaces, where the
// owner can be kept), which is flushed to the disk and then renamed over path; with
// mayReplace false it is linked to path instead, which fails when path exists (a file or
// anything else), so that nothing already there is ever replaced. The folder is then
// flushed too. False with the reason in why when the file cannot be written (why then
// starts with "cannot create", "cannot write" or "cannot replace", or, with mayReplace
// false, says that path exists); the temporary file is removed on every failure and path
// is left as it was. A symbolic link at path is replaced, not followed. The folder must
// exist.
bool writeFileAtomically(const std::string& path, const std::string& content, std::string& why,
                         bool mayReplace = true);

}  // namespace tarnset
