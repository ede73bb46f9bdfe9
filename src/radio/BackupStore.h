#pragma once
// The automatic backups of clone reads: each image a radio gave is kept in a folder of
// its own as
//
//   YYYYMMDD-HHMMSS-<model>-<sub-model>-<hash>.bin
//
// (the local time of the read, the radio's model and sub-model codes as 4 upper-case hex
// digits, and the first 8 hex digits of the image's SHA-256), the raw image byte for byte.
// A later backup in the same second as one already there adds "-2", "-3" ... before
// ".bin", so that the names alone order the backups. Files are written in one step and
// never replaced; an image identical to the newest backup is not written again. Only files
// named this way are taken for backups; anything else in the folder is left alone.
#include <ctime>
#include <optional>
#include <string>

#include "base/Types.h"

namespace tarnset {

// What a save did.
struct BackupResult {
  enum class Outcome {
    Written,       // a new backup was written
    SameAsNewest,  // the image is the newest backup's: nothing was written
    Failed,        // nothing was written; why says why
  };
  Outcome outcome = Outcome::Failed;
  // Written: the new backup's path; SameAsNewest: the path of the newest backup.
  std::string path;
  // Failed: the reason, as a line for the user ("cannot create the folder ...: ...").
  std::string why;
};

class BackupStore {
 public:
  // folder: where the backups are kept; created (with its parents) by the first save.
  explicit BackupStore(std::string folder);

  // The folder as given.
  const std::string& folder() const { return folder_; }

  // Keeps image as the backup of a read at time when (model and subModel: 4 hex digits
  // each, such as "2651" and "0100"). Writes nothing when the image equals the newest
  // backup's bytes. Never throws for a folder or a file that cannot be used: that is a
  // Failed result, and no file of the new backup is left behind.
  BackupResult save(const Bytes& image, const std::string& model, const std::string& subModel,
                    std::time_t when);

  // Full path of the newest backup (the latest time in its name, then the highest
  // "-N"); empty when the folder holds none or cannot be read.
  std::string newest() const;

  // A line that names a backup by its file name, e.g. "2024-05-01 16:03:22, model 2651,
  // sub-model 0100, SHA-256 1a2b3c4d" (", no. 2 of that second" for a "-2" name); empty
  // when the name is not a backup's.
  static std::string describe(const std::string& path);

  // The radio a backup is of, by its file name: its model and sub-model codes; nullopt
  // when the name is not a backup's.
  struct Identity {
    std::string model, subModel;
  };
  static std::optional<Identity> identityOf(const std::string& path);

 private:
  std::string folder_;
};

}  // namespace tarnset
