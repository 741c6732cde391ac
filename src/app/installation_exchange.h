// The installation exchange: one request to the server, then the receiving loop
// that writes the files the server sends and drives the download window until
// "Fin" or "FinMessage". It is written against InstallSessionLink, the part of
// the connection manager it needs, so it runs the same over the real network
// and over scripted objects. Main thread only; the link's counters are written
// by a receive thread and only read here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/installation_request.h"
#include "app/package_verifier.h"
#include "model/zel_object.h"
#include "transport/memory_account.h"
#include "ui/installation_ui.h"
#include "util/tick.h"

namespace quorvane {

class TZelSObjectAnswer;

// What the exchange uses of the connection manager.
class InstallSessionLink {
 public:
  virtual ~InstallSessionLink() = default;
  // The manager: parent of the request, its sender and its answer address.
  virtual TZelObject& RequestParent() = 0;
  // Queues the request on the connection to the server, opening it when there
  // is none; false when no connection could be obtained.
  virtual bool SendInstallRequest(std::unique_ptr<TSOFilesList> request) = 0;
  // The oldest received object, or null at once.
  virtual std::unique_ptr<TZelObject> PopIncoming() = 0;
  // The same with the memory the object holds of its connection's budget, which
  // the caller gives back by dropping `charge` once the object is written out.
  virtual std::unique_ptr<TZelObject> PopIncoming(MemoryCharge& charge) {
    charge.Reset();
    return PopIncoming();
  }
  // Waits at most `timeout_ms` for an object to arrive; returns at once when one
  // arrived since the last wait. A link without an event to wait on sleeps.
  virtual void WaitForIncoming(std::uint32_t timeout_ms) { SleepMs(timeout_ms); }
  // The receive-progress counters: payload bytes expected and received of the
  // object now arriving.
  virtual void ClearReceiveProgress() = 0;
  virtual std::uint32_t CurrentObjectSize() const = 0;
  virtual std::uint32_t CurrentObjectReceived() const = 0;
  // The HIDE word: the download window is created but never shown.
  virtual bool Hidden() const = 0;
  // Queues the "CustomerInformation" list that opens every connection to the server.
  virtual void SendCustomerInformation() = 0;
  // False once the connection that carried the request has closed.
  virtual bool ServerConnected() const = 0;
};

struct ExchangeLimits {
  // The longest wait between two rounds; an arriving object ends it at once.
  std::uint32_t poll_ms = 100;
  std::uint32_t idle_polls = 1800;  // polls without any object or byte: about 180 s
  // Bytes of the object arriving count as activity only once this many came
  // since the last counted activity, so a trickle meets the idle limit.
  std::uint32_t activity_bytes = 1024;
  int reconnects = 3;  // after the connection closed before the end
  std::uint32_t reconnect_delay_ms = 3000;
  std::size_t batch_files = 1024;             // files written with one disk flush
  std::size_t batch_bytes = 8 * 1024 * 1024;  // a large file is written at once
};

struct ExchangeOutcome {
  bool finished = false;  // "Fin" or "FinMessage" arrived
  std::uint64_t files_received = 0;
  std::uint64_t bytes_received = 0;
  std::uint64_t files_written = 0;
  std::uint64_t files_not_written = 0;
  std::string first_not_written;  // "name: reason" of the first file not written
  bool updater_written = false;   // "upd.zub" written whole in this run
  int reconnects = 0;
  std::string failure;  // why the loop ended without an end word
};

class InstallationExchange {
 public:
  InstallationExchange(InstallSessionLink& link, InstallationUi& ui, ExchangeLimits limits = {});

  // The whole exchange with its messages. True only when the server ended the
  // installation and every file it sent was written.
  bool RunInstallSession();
  // Builds the request and hands it to the link.
  bool SendInstallRequest();
  // The receiving loop; may close the connecting window (and empties the
  // reference then). True when "Fin" or "FinMessage" arrived.
  bool ReceiveInstallation(WindowRef& connecting);

  const ExchangeOutcome& Outcome() const { return outcome_; }
  // The facts sent in the request (tests set fixed ones).
  void SetMachineFacts(const MachineFacts& facts) {
    facts_ = facts;
    facts_set_ = true;
  }

 private:
  struct PendingFiles;
  void FlushFiles(PendingFiles& pending);
  // Counts a file as the server counted it, written or not.
  void CountFile(const TSOFile& file, bool written, const std::string& failure);
  // With a vendor's key, a finished run that is not verified is refused: true
  // then, with the message shown. An unverified run never starts the updater.
  bool RefusedAsUnsigned();
  // False when the loop is to end (an end word).
  bool HandleAnswer(const TZelSObjectAnswer& answer, WindowRef& connecting);
  void ShowOverallProgress();
  bool Reconnect();

  InstallSessionLink& link_;
  InstallationUi& ui_;
  ExchangeLimits limits_;
  MachineFacts facts_;
  bool facts_set_ = false;
  ExchangeOutcome outcome_;
  WindowRef download_ = kNoWindow;
  std::uint64_t files_expected_ = 0;
  std::uint64_t bytes_expected_ = 0;
  // After a reconnect the server counts only what is still missing.
  std::uint64_t files_before_restart_ = 0;
  std::uint64_t bytes_before_restart_ = 0;
  std::unique_ptr<PackageVerifier> verifier_;  // with a vendor's key in site.toml
};

// A numbered line of an answer's items as a count: a missing line, a line that
// is not a decimal number or a negative one reads as 0.
std::uint64_t AnswerCount(const TZelSObjectAnswer& answer, std::size_t line);

}  // namespace quorvane
