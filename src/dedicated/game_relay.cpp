// The running game on the session's side: the 200 ms tick that relays every player's orders to
// every player, the replay it records, the spectators' share of that replay, and the players'
// state checksums that tell whether their games still agree.
#include <yajl/yajl_gen.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "core/filesystem/native_file_operations.h"
#include "dedicated/client_packet_bodies.h"
#include "dedicated/client_packet_sending.h"
#include "dedicated/dedicated_session.h"
#include "dedicated/dedicated_user.h"
#include "dedicated/main_server_task.h"
#include "dedicated/replay_recording.h"
#include "dedicated/user_action_buffer.h"
#include "network/buffer_event_socket.h"
#include "network/network_hooks.h"
#include "network/packet_helper.h"
#include "network/save_file_writer.h"

namespace Orvan::Dedicated {

namespace {

// A spectator's piece of the replay leaves room in the frame for the channel and the stream head.
constexpr std::uint32_t kStreamPieceMargin = 32;

void WriteReplayFile(const std::string& name, const TMemoryStream& content) {
  std::FILE* file = std::fopen(name.c_str(), "wb");
  // An unwritable file is skipped: the game goes on.
  if (file == nullptr) return;
  if (content.GetSize() != 0) std::fwrite(content.GetData(), 1, content.GetSize(), file);
  std::fclose(file);
}

}  // namespace

void TDedicatedSession::RecordTick() {
  if (replayWriter_ != nullptr) {
    const std::vector<std::uint8_t> records = MakeStateRecordsPayload(tickCounter_, stateRecords_);
    replayWriter_->AddChunk(kReplayStateChunk, 0, records.data(), static_cast<std::uint32_t>(records.size()));
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
    if (replayWriter_ != nullptr) {
      replayWriter_->AddChunk(kReplayActionsChunk, 0, actions->GetPayload(), actions->length);
    }
  }
  if (frameCount != 0) {
    for (TDedicatedUser* player : clients_) {
      if (player->IsSpectator()) continue;
      SendClientFrames(player, frames.data(), static_cast<std::uint32_t>(frames.size()), frameCount, true);
    }
  }

  if (replayWriter_ != nullptr) {
    const std::vector<std::uint8_t> departed = MakeDepartedPlayersPayload(tickCounter_, departedPlayers_);
    replayWriter_->AddChunk(kReplayDepartedChunk, 0, departed.data(), static_cast<std::uint32_t>(departed.size()));
  }
  departedPlayers_.Clear();

  if (replayWriter_ != nullptr) StreamReplayToSpectators();
  ++tickCounter_;
}

void TDedicatedSession::StreamReplayToSpectators() {
  TMainServerTask* task = TMainServerTask::GetInstance();
  if (replayWriter_ == nullptr || task == nullptr) return;
  const TMemoryStream& stream = *replayWriter_->GetStream();
  const std::uint32_t size = stream.GetSize();
  Network::TPacketHelperBase* framer = task->GetClientFramer();
  const std::uint32_t largestPiece = framer->GetMaximumSize() - kStreamPieceMargin;
  std::vector<std::uint8_t> head;
  for (TDedicatedUser* spectator : clients_) {
    if (!spectator->IsSpectator() || spectator->GetStreamingPosition() >= size) continue;
    const std::uint32_t offset = spectator->GetStreamingPosition();
    const std::uint32_t piece = std::min(size - offset, largestPiece);
    // The frame's start, then the piece straight from the replay, in one write.
    head.clear();
    bool sent = AppendFrameHead(head, kChannelReplayStream, std::uint32_t{0}, piece);
    if (sent) {
      const iovec pieces[] = {{head.data(), head.size()},
                              {const_cast<std::uint8_t*>(stream.GetData()) + offset, piece}};
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

  delete replayWriter_;
  replayWriter_ = new TSaveFileWriter;
  replayWriter_->Begin();
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
    replayWriter_->AddChunk(kReplayHeaderChunk, 0, header, static_cast<std::uint32_t>(headerSize));
  }
  if (generator != nullptr) yajl_gen_free(generator);

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
    replayWriter_->Finish();
    if (!NativeFileExists(kReplayFolder)) NativeCreateDirectories(kReplayFolder);
    const TMemoryStream& content = *replayWriter_->GetStream();
    WriteReplayFile(ReplayFileName("lastreplay", replayCounter_), content);
    if (desync_) WriteReplayFile(ReplayFileName("desync_replay", replayCounter_), content);
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
