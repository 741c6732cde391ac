// The installation conversation of one connection, without its socket: it takes
// the objects the installer sends, decides what to answer, and hands out what to
// send, one piece at a time, in the order of an installation: the greeting;
// "DebutInstall", the files of DB, "Phase2", the other sub-folders' files,
// "Phase3", the top-level files; "Fin". What needs the disk or the worker pool
// (scanning and comparing the package, a file's prepared frames) it asks of its
// host, which answers later through Planned, Prepared and Failed. Not
// thread-safe: its session calls it, and it calls its host, on one strand.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "frame_cache.h"
#include "inventory.h"

namespace quorvane {
class TZelObject;
class TSOFilesList;
}  // namespace quorvane

namespace quorvane::server {

// The control answers every connection sends, framed once per server.
struct ConversationScript {
  std::shared_ptr<const std::string> greeting;  // the server user's "Atfctn"
  std::shared_ptr<const std::string> phase2, phase3, end;
};

// What a conversation asks of the connection that carries it.
class ConversationHost {
 public:
  virtual void Log(const std::string& text) = 0;
  // Scan the package and compare it with the request; answer with Planned.
  virtual void Plan(std::unique_ptr<TSOFilesList> request) = 0;
  // Get the prepared frames of the plan's file `index`; answer with Prepared or Failed.
  virtual void Acquire(int index, const PackageFile& file) = 0;
  // Take the file's present size and time; false when it is gone.
  virtual bool Refresh(PackageFile& file) = 0;
  virtual void EndConnection(const std::string& why) = 0;

 protected:
  ~ConversationHost() = default;
};

// One piece to send: frames in memory, or the checked stored copy to read.
struct Piece {
  std::shared_ptr<const std::string> memory;
  std::shared_ptr<const StoredFile> stored;
  std::int64_t size = 0;
  std::string name;  // the file's wire path, for the log (empty for answers)
};

class Conversation {
 public:
  Conversation(const ConversationScript& script, std::string package_name, ConversationHost& host);

  // A decoded object. Empty when it was of use, else what it was: the session
  // counts it as unreadable.
  std::string Receive(std::unique_ptr<TZelObject> object);
  // The plan, and the frames of the signed manifest that go before the beginning
  // word when the package is signed.
  void Planned(InstallPlan plan, std::shared_ptr<const std::string> manifest = nullptr);
  void Prepared(int index, std::shared_ptr<const PreparedFrames> frames);
  void Failed(int index, const std::string& error);

  // The next piece, to be asked for once the previous one has left; nothing
  // while the next file is being prepared, or when everything has been handed out.
  std::optional<Piece> Next();

  bool Installing() const { return installing_; }
  // Every piece of the installation handed out.
  bool Finished() const { return installing_ && planned_ && next_step_ == steps_.size(); }
  std::int64_t FilesSent() const { return files_sent_; }
  std::int64_t FileBytesSent() const { return file_bytes_sent_; }

 private:
  struct Step {
    std::shared_ptr<const std::string> frames;  // a control answer, or
    int file = -1;                              // an index into the plan
  };
  void Prefetch();

  const ConversationScript& script_;
  const std::string package_name_;
  ConversationHost& host_;
  bool installing_ = false;
  bool planned_ = false;
  InstallPlan plan_;
  std::vector<Step> steps_;
  std::size_t next_step_ = 0;
  std::size_t next_fetch_ = 0;  // next plan index to acquire
  std::map<int, std::shared_ptr<const PreparedFrames>> prepared_;
  std::map<int, std::string> failed_;
  std::set<int> retried_;          // files acquired a second time after a failure
  std::int64_t files_passed_ = 0;  // file steps handed out
  std::int64_t files_sent_ = 0;
  std::int64_t file_bytes_sent_ = 0;
};

}  // namespace quorvane::server
