// The running game on the session's side: the 200 ms tick that relays every player's orders to
// every player, the replay it records, the spectators' share of that replay, and the players'
// state checksums that tell whether their games still agree.
#include <yajl/yajl_gen.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "core/filesystem/native_file_operations.h"
#include "dedicated/clients/client_packet_bodies.h"
#include "dedicated/clients/client_packet_sending.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/game/replay_recording.h"
#include "dedicated/game/user_action_buffer.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/dedicated_session.h"
#include "network/files/spooled_save_file_writer.h"
#include "network/logging/network_hooks.h"
#include "network/packets/packet_helper.h"
#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/socket_utilities.h"

namespace Orvan::Dedicated {

namespace {

// A spectator's piece of the replay leaves room in the frame for the channel and the stream head.
constexpr std::uint32_t kStreamPieceMargin = 32;

// What failed with a replay file: writing it, or reading it back for the spectators' stream.
enum class EReplayFileStep { Write, ReadBack };

// `consequence` follows the reason when the failure changes more than the one file.
void LogReplayFileFailure(const std::string& name, int error, const char* consequence = "",
                          EReplayFileStep step = EReplayFileStep::Write) {
  const char* what =
      step == EReplayFileStep::Write ? "Failed to write replay file " : "Failed to read back replay file ";
  Network::NetworkLog(Network::kNetworkLogError, what + TOrvString<char>(name.c_str()) + " (reason : " +
                                                     Network::GetErrorString(error) + ")" + consequence);
}

const char kWithoutReplay[] = ", the game goes on without replay";

}  // namespace

void TDedicatedSession::AddReplayChunk(std::uint32_t tag, const void* data, std::uint32_t size) {
  if (replayWriter_ == nullptr) return;
  // A chunk that would take the replay past the container's 4 GiB is left out; the recording goes on.
  if (!replayWriter_->AddChunk(tag, 0, data, size) && replayWriter_->HasFileError()) AbandonReplay();
}

void TDedicatedSession::AbandonReplay(bool readingBack) {
  LogReplayFileFailure(replayWriter_->GetPath(), replayWriter_->GetSystemError(), kWithoutReplay,
                       readingBack ? EReplayFileStep::ReadBack : EReplayFileStep::Write);
  // The writer removes its unsealed file.
  delete replayWriter_;
  replayWriter_ = nullptr;
}

void TDedicatedSession::RecordTick() {
  if (replayWriter_ != nullptr) {
    const std::vector<std::uint8_t> records = MakeStateRecordsPayload(tickCounter_, stateRecords_);
    AddReplayChunk(kReplayStateChunk, records.data(), static_cast<std::uint32_t>(records.size()));
  }
  stateRecords_.Clear();

  // Every player is sent every player's actions packet in admission order: the frames are laid out
  // once, one behind the other, and each player gets the whole run in one write.
  std::vector<std::uint8_t> frames;
  std::uint32_t frameCount = 0;
  for (TDedicatedUser* player : clients_) {
    if (player->IsSpectator()) continue;
    const Network::TPacketBufferPtr actions = player->GetActionBuffer()->MakeUserActionsPacket(
        tickCounter_, static_cast<std::uint32_t>(player->GetPlayerNumber()));
    if (actions.IsNull()) continue;
    if (AppendFrameWithData(frames, kChannelGameData, player->GetNetworkId(), actions->GetChannelAndPayload(),
                            actions->length + 1u)) {
      ++frameCount;
    }
    AddReplayChunk(kReplayActionsChunk, actions->GetPayload(), actions->length);
  }
  if (frameCount != 0) {
    for (TDedicatedUser* player : clients_) {
      if (player->IsSpectator()) continue;
      SendClientFrames(player, frames.data(), static_cast<std::uint32_t>(frames.size()), frameCount, true);
    }
  }

  if (replayWriter_ != nullptr) {
    const std::vector<std::uint8_t> departed = MakeDepartedPlayersPayload(tickCounter_, departedPlayers_);
    AddReplayChunk(kReplayDepartedChunk, departed.data(), static_cast<std::uint32_t>(departed.size()));
  }
  departedPlayers_.Clear();

  if (replayWriter_ != nullptr) StreamReplayToSpectators();
  ++tickCounter_;
}

void TDedicatedSession::StreamReplayToSpectators() {
  TMainServerTask* task = TMainServerTask::GetInstance();
  if (replayWriter_ == nullptr || task == nullptr) return;
  const std::uint32_t size = replayWriter_->GetSize();
  Network::TPacketHelperBase* framer = task->GetClientFramer();
  const std::uint32_t largestPiece = framer->GetMaximumSize() - kStreamPieceMargin;
  std::vector<std::uint8_t> head;
  std::vector<std::uint8_t> bytes;
  for (TDedicatedUser* spectator : clients_) {
    if (!spectator->IsSpectator() || spectator->GetStreamingPosition() >= size) continue;
    const std::uint32_t offset = spectator->GetStreamingPosition();
    const std::uint32_t piece = std::min(size - offset, largestPiece);
    // The bytes come from the file once they have left the writer's buffer.
    bytes.resize(piece);
    if (!replayWriter_->ReadAt(offset, bytes.data(), piece)) {
      AbandonReplay(true);
      return;
    }
    // The frame's start, then the piece, in one write.
    head.clear();
    bool sent = AppendFrameHead(head, kChannelReplayStream, std::uint32_t{0}, piece);
    if (sent) {
      const iovec pieces[] = {{head.data(), head.size()}, {bytes.data(), piece}};
      sent = SendFrames(framer, spectator->GetConnection(), kChannelReplayStream, pieces, 2, true);
    }
    if (!sent) {
      Network::NetworkLog(Network::kNetworkLogWarning, "Failed to send replay streaming data to spectator with id " +
                                                           spectator->GetNetworkId().ToString());
    }
    // A failed piece is not sent again: the stream goes on after it.
    spectator->SetStreamingPosition(offset + piece);
  }
}

void TDedicatedSession::StartReplayRecording(TTimeStamp now) {
  recording_ = true;
  tickCounter_ = 0;
  recordingStart_ = now;

  // An earlier replay's writer goes, and with it a file it did not seal.
  delete replayWriter_;
  replayWriter_ = new TSpooledSaveFileWriter;
  if (!NativeFileExists(kReplayFolder)) NativeCreateDirectories(kReplayFolder);
  if (!replayWriter_->Begin(kRecordingReplayFile)) {
    AbandonReplay();
  } else {
    yajl_gen generator = yajl_gen_alloc(nullptr);
    if (generator != nullptr) {
      // A header cut short by a generator error is still taken as it stands.
      WriteReplayHeader(generator, propertyTable_, clients_);
    }
    const unsigned char* header = nullptr;
    std::size_t headerSize = 0;
    if (generator == nullptr || yajl_gen_get_buf(generator, &header, &headerSize) != yajl_gen_status_ok) {
      // The game runs on without a replay.
      delete replayWriter_;
      replayWriter_ = nullptr;
    } else {
      AddReplayChunk(kReplayHeaderChunk, header, static_cast<std::uint32_t>(headerSize));
    }
    if (generator != nullptr) yajl_gen_free(generator);
  }

  stateRecords_.Clear();
  departedPlayers_.Clear();
  desync_ = false;
  tickChecksums_.Clear();
}

void TDedicatedSession::SaveReplay(TTimeStamp now) {
  recording_ = false;
  tickCounter_ = 0;
  recordingStart_ = now;
  if (replayWriter_ != nullptr) {
    const std::string name = ReplayFileName("lastreplay", replayCounter_);
    if (!replayWriter_->Seal(name)) {
      LogReplayFileFailure(name, replayWriter_->GetSystemError());
      delete replayWriter_;
      replayWriter_ = nullptr;
    } else if (desync_) {
      const std::string copy = ReplayFileName("desync_replay", replayCounter_);
      if (!NativeCopyFile(name.c_str(), copy.c_str())) LogReplayFileFailure(copy, errno);
    }
    replayCounter_ = replayCounter_ >= kReplayCount ? 1 : replayCounter_ + 1;
  }
  for (TDedicatedUser* client : clients_) client->GetActionBuffer()->Reset();
}

void TDedicatedSession::RecordTickChecksum(std::uint32_t tick, std::uint32_t checksum) {
  if (tick >= tickCounter_) return;
  TKeyValueEntry<std::uint32_t, std::uint32_t>* entry;
  if (tickChecksums_.FindOrInsert(tick, &entry)) {
    ::new (static_cast<void*>(entry)) TKeyValueEntry<std::uint32_t, std::uint32_t>{tick, checksum};
  } else if (entry->value != checksum) {
    desync_ = true;
  }
}

}  // namespace Orvan::Dedicated
