#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// What a settings file's path held when it was read.
struct FileText {
  enum class Kind {
    Text,        // a regular file, all of it in text
    Absent,      // nothing there
    Other,       // a folder, a pipe, a device, a link not to be followed: never read nor replaced
    Unreadable,  // a regular file that could not be read whole: never replaced
    Busy,        // a regular file someone held locked for longer than the wait: read it later
  };
  Kind kind = Kind::Absent;
  std::string text;
};

// How a write went.
enum class WriteOutcome {
  Written,
  Kept,     // what is stored already says as much: nothing was written
  Refused,  // the player made the file read-only: leave it so
  NotHere,  // the file cannot live at that path for this player
  Failed,   // an error on the way; the old file is whole
  Busy,     // the turn never came (a slow disk, a lock someone holds): nothing was written
};

// How long a read or a write waits for its turn behind whoever holds the file: not at all (a
// look while frames go on), briefly, or longer (a start, a store beside the frame loop, the end).
enum class Patience { Now, Brief, Long };

// The machine's files as the best-score store needs them.
class FileSystem {
 public:
  // The new text for a file, from what it holds now; nothing to leave it as it is.
  using Change = std::function<std::optional<std::string>(const FileText& now)>;
  // A second file changed in the same turn, after the first (the run beside the best): asked
  // once the first's change has been made. Where it could not be written at all, neither is.
  struct Companion {
    std::string path;
    Change change;
    WriteOutcome outcome = WriteOutcome::Kept;  // how its write went
  };

  virtual ~FileSystem() = default;
  // Reads a whole regular file, following links; never blocks on a pipe or device, and never
  // sees a file half rewritten by another copy of the game (Busy rather than that, once the
  // wait is over).
  virtual FileText Read(const std::string& path, Patience patience = Patience::Long) = 0;
  // Takes the file's turn, reads the file and replaces it with what `change` makes of it, then
  // the companion's, all before giving the turn up, so that nothing another copy stored in
  // between is lost; with no turn, nothing is written (Busy). Every writer takes the same turn,
  // whether it replaces the file or rewrites it in place. A crash leaves either the old or the
  // new text. A path that holds anything but a readable regular file (or nothing) is left
  // alone: NotHere, without asking `change`. Only the player's own files are rewritten in
  // place, and `shared` ones (the best beside the program, named directly, not by a link).
  virtual WriteOutcome Update(const std::string& path, const Change& change, Patience patience,
                              Companion* companion = nullptr, bool shared = false) = 0;
  // Why the last Update failed, in a few words for the player.
  virtual std::string LastError() const = 0;
  // The temporary file an earlier, ended run of this player's left beside `path` (a crash in
  // the middle of a write); nothing when there is none or it is someone else's.
  virtual std::optional<std::string> Leftover(const std::string& path) = 0;
  // Removes that leftover, on the same conditions.
  virtual void DropLeftover(const std::string& path) = 0;
  // The player's own folder for the game's data, ending in the separator; empty when
  // there is none. It may not exist yet.
  virtual std::string DataFolder() = 0;
  // Creates the folder and any missing parents, for the player alone.
  virtual bool MakeFolder(const std::string& folder) = 0;
  // True where the program's folder belongs to the system, not to any player: the best score
  // then lives only in the player's data folder. Each system says so itself.
  virtual bool DataFolderOnly() const = 0;
};

}  // namespace quillon
