// Operations with time-out and their manager.
#include "network/operations/operation_with_time_out.h"

#include <algorithm>

namespace Orvan::Network {

TOperationWithTimeOut::TOperationWithTimeOut(TOperationWithTimeOutManager* manager, double timeOutMilliseconds)
    : manager_(manager), timeOut_(timeOutMilliseconds) {}

TOperationWithTimeOut::~TOperationWithTimeOut() = default;

std::int32_t TOperationWithTimeOut::Launch() {
  GetTimeStamp(startStamp_);
  id_ = static_cast<std::int32_t>(manager_->NextId());
  if (!OnOperationLaunched()) {
    delete this;
    return -1;
  }
  manager_->Register(this);
  running_ = true;
  return id_;
}

void TOperationWithTimeOut::TerminateOperation() {
  running_ = false;
  manager_->Unregister(static_cast<std::uint32_t>(id_), this);
  OnOperationTerminated();
  delete this;
}

void TOperationWithTimeOut::TimeOutOperation() {
  running_ = false;
  manager_->Unregister(static_cast<std::uint32_t>(id_), this);
  OnOperationTimeout();
  delete this;
}

void TOperationWithTimeOut::KillOperation() {
  OnOperationKilled();
  running_ = false;
  manager_->Unregister(static_cast<std::uint32_t>(id_), this);
  delete this;
}

bool TOperationWithTimeOut::CheckTimeOut(TTimeStamp now) {
  if (GetElapsedMilliseconds(startStamp_, now) > timeOut_) {
    TimeOutOperation();
    return true;
  }
  return false;
}

std::uint32_t TOperationWithTimeOutManager::NextId() {
  if (nextId_ == 0xFFFFFFFFu) {
    nextId_ = 1;
    return 0;
  }
  return nextId_++;
}

void TOperationWithTimeOutManager::Register(TOperationWithTimeOut* operation) {
  if (iterating_) {
    pending_.push_back(operation);
    return;
  }
  operations_[static_cast<std::uint32_t>(operation->id_)] = operation;
}

void TOperationWithTimeOutManager::Unregister(std::uint32_t id, TOperationWithTimeOut* operation) {
  const auto inPending = std::find(pending_.begin(), pending_.end(), operation);
  if (inPending != pending_.end()) {
    pending_.erase(inPending);
    return;
  }
  const auto entry = operations_.find(id);
  if (entry == operations_.end()) return;
  if (iterating_) {
    entry->second = nullptr;
    removed_.insert(id);
  } else {
    operations_.erase(entry);
  }
}

void TOperationWithTimeOutManager::EraseRemoved() {
  for (const std::uint32_t id : removed_) operations_.erase(id);
  removed_.clear();
}

void TOperationWithTimeOutManager::Update() {
  TTimeStamp now;
  GetTimeStamp(now);
  if (!(GetElapsedMilliseconds(lastUpdate_, now) > kUpdateIntervalMilliseconds)) return;
  iterating_ = true;
  lastUpdate_ = now;
  // While iterating nothing enters or leaves the map (registrations wait in pending, ends null
  // their entry), so the walk's iterator stays valid whatever the hooks do.
  for (auto entry = operations_.begin(); entry != operations_.end() && !cancelAllRequested_; ++entry) {
    TOperationWithTimeOut* operation = entry->second;
    if (operation == nullptr || removed_.count(entry->first) != 0) continue;
    if (!operation->CheckTimeOut(now)) operation->OnOperationUpdate();
  }
  iterating_ = false;
  EraseRemoved();
  for (TOperationWithTimeOut* operation : pending_) {
    operations_.emplace(static_cast<std::uint32_t>(operation->id_), operation);
  }
  pending_.clear();
  if (cancelAllRequested_) CancelAll();
}

// Kills the pending operations marked when the cancel-all started, each once. A kill hook may end
// other pending operations (their own end takes them out of pending) or launch new ones, which
// are not marked and survive.
void TOperationWithTimeOutManager::KillPendingMarked() {
  for (TOperationWithTimeOut* operation : pending_) operation->killedByCancelAll_ = true;
  for (;;) {
    const auto marked = std::find_if(pending_.begin(), pending_.end(),
                                     [](const TOperationWithTimeOut* operation) { return operation->killedByCancelAll_; });
    if (marked == pending_.end()) return;
    (*marked)->KillOperation();
  }
}

void TOperationWithTimeOutManager::CancelAll() {
  if (iterating_) {
    cancelAllRequested_ = true;
    return;
  }
  iterating_ = true;
  KillPendingMarked();
  EraseRemoved();
  for (auto& entry : operations_) {
    if (entry.second != nullptr) entry.second->KillOperation();
  }
  EraseRemoved();
  iterating_ = false;
  cancelAllRequested_ = false;
}

TOperationWithTimeOut* TOperationWithTimeOutManager::GetOperation(std::uint32_t id) const {
  if (id == 0xFFFFFFFFu) return nullptr;
  const auto entry = operations_.find(id);
  if (entry != operations_.end() && entry->second != nullptr) return entry->second;
  for (TOperationWithTimeOut* operation : pending_) {
    if (static_cast<std::uint32_t>(operation->id_) == id) return operation;
  }
  return nullptr;
}

void TOperationWithTimeOutManager::CancelOperation(std::uint32_t id) {
  const auto entry = operations_.find(id);
  if (entry != operations_.end() && entry->second != nullptr) entry->second->KillOperation();
}

}  // namespace Orvan::Network
