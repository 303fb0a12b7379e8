#pragma once

#include <string>
#include <string_view>

namespace quillon {

// What a settings file's path held when it was read.
struct FileText {
  enum class Kind {
    Text,        // a regular file, all of it in text
    Absent,      // nothing there
    Other,       // a folder, a pipe, a device: never read nor replaced
    Unreadable,  // a regular file that could not be read whole
  };
  Kind kind = Kind::Absent;
  std::string text;
};

// How a replacement went.
enum class WriteOutcome {
  Written,
  Refused,  // the player made the file read-only: leave it so
  NotHere,  // the file cannot live at that path for this player
  Failed,   // an error on the way; the old file is whole
};

// The machine's files as the best-score store needs them.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Reads a whole regular file, following links; never blocks on a pipe or device.
  virtual FileText Read(const std::string& path) = 0;
  // Replaces the file's contents so that a crash leaves either the old or the new text,
  // writing through links to the file they name.
  virtual WriteOutcome Replace(const std::string& path, std::string_view contents) = 0;
  // The player's own folder for the game's data, ending in the separator; empty when
  // there is none. It may not exist yet.
  virtual std::string DataFolder() = 0;
  // Creates the folder and any missing parents, for the player alone.
  virtual bool MakeFolder(const std::string& folder) = 0;
};

}  // namespace quillon
