// TFileSystemComponentUnion, a component that holds no files of its own: it owns an ordered list
// of member components and makes them answer as one (the first that has the file, the first that
// opens it, or all of them when a folder is listed).
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/filesystem/file_system_component.h"

namespace Orvan {

// Members are asked from the first entry to the last. An entry may be null (a hole left by
// SetComponent): every operation passes over it. The union takes no lock: its list must not change
// while another thread uses it.
class TFileSystemComponentUnion : public TAbstractFileSystemComponent {
 public:
  TFileSystemComponentUnion() = default;
  // Deletes every member, first to last.
  ~TFileSystemComponentUnion() noexcept override;

  // ---- The member list. Misuse (an index at or past the count, a pointer not in the list) is
  // reported as an engine assertion and changes nothing.
  // Appends the component at the end and takes ownership of it (it is deleted when the append
  // throws).
  void AppendComponent(TAbstractFileSystemComponent* component);
  // Entries, holes included.
  std::uint32_t GetComponentCount() const noexcept { return members_.GetSize(); }
  // The entry at the index (null for a hole, and after a misuse).
  TAbstractFileSystemComponent* GetComponent(std::uint32_t index) const;
  // Deletes the entry's component and stores the new one (null leaves a hole), which the union now
  // owns. After a misuse the new component stays the caller's.
  void SetComponent(std::uint32_t index, TAbstractFileSystemComponent* component);
  // Takes the first entry equal to the pointer out of the list, keeping the order of the rest;
  // the component goes back to the caller, not deleted.
  void RemoveComponent(TAbstractFileSystemComponent* component);
  // Deletes the union (made with new) but none of its members: they stay with whoever still
  // points to them.
  void DeleteWithoutComponents() noexcept;

  // ---- The component interface.
  bool Exists(const TFileName& name) override;
  bool QueryFileInfo(const TFileName& name, std::uint32_t* first, std::uint32_t* second) override;
  // The first result that is not 0, with status 0; a member's corruption (bit 8) ends the search
  // with status 8; nothing found gives status 1. A critical member status does not end it.
  std::uint32_t Open(const TFileName& name, TFileStatus& status) override;
  // Write opens pass over members that are not writable without asking them. A handle comes with
  // status 0. Corruption ends the search with status 8, a critical member status (unless the
  // flags are quiet) with that status; nothing found gives kFileStatusNotSupported for a write,
  // else kFileStatusFileNotFound.
  TCountedPtr<TAbstractMemoryStream> OpenMemoryStream(const std::uint16_t& mountingPoint, const TFileName& name,
                                                      TFileOpenFlags flags, std::uint32_t extra1, std::uint32_t extra2,
                                                      TFileStatus& status) override;
  // Every member may be asked, writes included. A handle comes with the member's own status; the
  // failures end as OpenMemoryStream's, nothing found giving kFileStatusFileNotFound.
  TCountedPtr<TStream> OpenStream(const std::uint16_t& mountingPoint, const TFileName& name, TFileOpenFlags flags,
                                  std::uint32_t extra1, std::uint32_t extra2, TFileStatus& status) override;
  // Only the first member that has the file is asked to delete it.
  bool Delete(const TFileName& name) override;
  // Every member adds to the collector, in list order.
  void Enumerate(TSortedFileNameList& collector, const TFileName& folder, std::int32_t selector, bool flag) override;
  bool IsWritable() override;
  // The first entry's root name; the empty name when the list is empty or starts with a hole.
  TFileName GetRootName() override;

 private:
  bool CheckIndex(std::uint32_t index, const char* expression) const;
  // The status after a member open that gave nothing: true when it ends the search, with the
  // status the union answers.
  static bool EndsSearch(TFileStatus& status, TFileOpenFlags flags);

  TVector<TAbstractFileSystemComponent*> members_;
};

}  // namespace Orvan
