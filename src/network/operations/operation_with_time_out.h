// Asynchronous operations that end exactly once (done, timed out or killed) and delete themselves,
// and the manager that keeps the running ones by id, ticks their time-outs and kills them. The hooks
// may launch, end or kill operations, themselves included, while the manager walks its table.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "core/time/time_stamp.h"

namespace Orvan::Network {

class TOperationWithTimeOutManager;

class TOperationWithTimeOut {
 public:
  TOperationWithTimeOut(TOperationWithTimeOutManager* manager, double timeOutMilliseconds);
  virtual ~TOperationWithTimeOut();
  TOperationWithTimeOut(const TOperationWithTimeOut&) = delete;
  TOperationWithTimeOut& operator=(const TOperationWithTimeOut&) = delete;

  // The id, or -1 when the operation refused to start: it is then already deleted.
  std::int32_t Launch();
  // The three ends; each deletes the operation as its last step.
  void TerminateOperation();
  void KillOperation();
  void TimeOutOperation();
  // Ends the operation by time-out when more than its time-out has passed since `now`'s start.
  bool CheckTimeOut(TTimeStamp now);

  std::int32_t GetId() const { return id_; }
  bool IsRunning() const { return running_; }
  double GetTimeOut() const { return timeOut_; }
  TTimeStamp GetStartStamp() const { return startStamp_; }
  TOperationWithTimeOutManager* GetManager() const { return manager_; }

 protected:
  // Runs before the operation is registered, its id already set; false refuses the launch.
  virtual bool OnOperationLaunched() = 0;
  // Run after the operation left the manager's table.
  virtual void OnOperationTerminated() = 0;
  virtual void OnOperationTimeout() = 0;
  // Run while the operation is still registered and running.
  virtual void OnOperationKilled() = 0;
  virtual void OnOperationUpdate() = 0;

 private:
  friend class TOperationWithTimeOutManager;

  TOperationWithTimeOutManager* manager_;
  TTimeStamp startStamp_ = 0;
  double timeOut_;
  std::int32_t id_ = -1;
  bool running_ = false;
  // Set on the operations pending when a cancel-all starts: those are the ones it kills.
  bool killedByCancelAll_ = false;
};

class TOperationWithTimeOutManager {
 public:
  // The tick runs at most once per this many milliseconds.
  static constexpr double kUpdateIntervalMilliseconds = 100.0;

  TOperationWithTimeOutManager() = default;
  // Neither kills nor deletes the operations still registered.
  ~TOperationWithTimeOutManager() = default;
  TOperationWithTimeOutManager(const TOperationWithTimeOutManager&) = delete;
  TOperationWithTimeOutManager& operator=(const TOperationWithTimeOutManager&) = delete;

  // Never issues 0xFFFFFFFF, which reads as -1, the refused launch.
  std::uint32_t NextId();
  void Register(TOperationWithTimeOut* operation);
  void Unregister(std::uint32_t id, TOperationWithTimeOut* operation);

  void Update();
  void CancelAll();
  TOperationWithTimeOut* GetOperation(std::uint32_t id) const;
  void CancelOperation(std::uint32_t id);

  // Test seam: the next id to issue.
  void SetNextIdForTests(std::uint32_t id) { nextId_ = id; }
  // Observers for diagnostics and tests.
  std::size_t GetRegisteredCount() const { return operations_.size(); }
  std::size_t GetPendingCount() const { return pending_.size(); }
  bool IsIterating() const { return iterating_; }

 private:
  void EraseRemoved();
  void KillPendingMarked();

  std::vector<TOperationWithTimeOut*> pending_;
  std::map<std::uint32_t, TOperationWithTimeOut*> operations_;
  std::set<std::uint32_t> removed_;
  std::uint32_t nextId_ = 0;
  TTimeStamp lastUpdate_ = 0;
  bool iterating_ = false;
  bool cancelAllRequested_ = false;
};

}  // namespace Orvan::Network
