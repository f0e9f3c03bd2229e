// SPDX-License-Identifier: GPL-3.0-or-later
// One game's network side for the NAT lab: hosts (writing its code to a file) or joins by
// code through the lobby with the game's own code (transport and lobby client), then
// exchanges a few reliable messages with the other side and says how it played:
//   lab_peer host|join LOBBY_IP:PORT CODE_FILE [PLAY_SECONDS]
//   lab_peer watch LOBBY_IP:PORT CODE_FILE
// Prints "PLAYING directly", "PLAYING through the relay" or "FAILED <sentence>"; exits 0
// only when the messages went both ways (and, with PLAY_SECONDS, kept going that long,
// one message every 100 ms). A host that plays feeds the lobby a game's stream (a tick
// every 16 ms, then its end) and prints "FED <items> items, crc <crc>"; a spectator
// prints "WATCHED <items> items, crc <crc>" once it holds the stream's end. Everything
// ends within kDeadlineMs.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include <zlib.h>

#include "net/game_feed.h"
#include "net/lobby_client.h"
#include "net/watch_client.h"

using namespace net;

namespace {

constexpr uint32_t kDeadlineMs = 25000;
constexpr uint32_t kMessages = 20;  // reliable messages each way once connected

uint32_t NowMs() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string Described(const std::vector<uint8_t>& items) {
  return std::to_string(items.size()) + " items, crc " +
         std::to_string(crc32(0L, items.data(), static_cast<uInt>(items.size())));
}

int Watch(const Endpoint& lobby, const std::string& code, const Hello& mine) {
  std::string error;
  std::unique_ptr<WatchClient> client = WatchClient::Open(lobby, code, mine, error);
  if (!client) {
    std::printf("FAILED %s\n", error.c_str());
    return 2;
  }
  const uint32_t start = NowMs();
  while (NowMs() - start < kDeadlineMs) {
    client->Service(NowMs());
    const WatchedStream& s = client->Stream();
    if (!s.items.empty() && s.items.back() >= kStreamEnd) {
      std::printf("WATCHED %s after %u ms\n", Described(s.items).c_str(), NowMs() - start);
      return 0;
    }
    if (s.over) {
      std::printf("FAILED %s\n", s.failure.c_str());
      return 3;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::printf("FAILED no stream's end within %u ms\n", kDeadlineMs);
  return 4;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: lab_peer host|join|watch LOBBY_IP:PORT CODE_FILE [PLAY_SECONDS]\n");
    return 2;
  }
  const bool hosting = std::string(argv[1]) == "host";
  Endpoint lobby;
  std::string error;
  if (!ResolveLobby(argv[2], lobby, error)) {
    std::printf("FAILED %s\n", error.c_str());
    return 2;
  }
  Hello mine;
  mine.gameVersion = "lab";
  mine.fingerprint = 1;
  std::string code;
  if (!hosting) {
    std::ifstream in(argv[3]);
    std::getline(in, code);
    std::string parsed;
    if (ParseCode(code, parsed)) code = parsed;
  }
  if (std::string(argv[1]) == "watch") return Watch(lobby, code, mine);
  std::unique_ptr<Connection> connection =
      hosting ? Connection::Listen(kDefaultPort, "", mine, error) : Connection::Open(mine, error);
  if (!connection) {
    std::printf("FAILED %s\n", error.c_str());
    return 2;
  }
  const uint32_t start = NowMs();
  LobbyClient client(*connection, lobby, {LocalAddressTowards(lobby), connection->Port()}, mine, code, start);
  const uint32_t playMs = argc == 5 ? 1000u * static_cast<uint32_t>(std::min(std::atoi(argv[4]) > 0 ? std::atoi(argv[4]) : 0, 15)) : 0;
  uint32_t received = 0, sent = 0, agreedAt = 0, lastSent = 0, lastTick = 0;
  bool said = false;
  std::unique_ptr<GameFeed> feed;
  while (NowMs() - start < kDeadlineMs) {
    std::vector<NetEvent> netEvents;
    connection->Service(netEvents);
    std::vector<LobbyEvent> lobbyEvents;
    client.Tick(NowMs(), lobbyEvents);
    for (const LobbyEvent& e : lobbyEvents) {
      if (e.kind == LobbyEvent::Kind::Registered) {
        std::ofstream(std::string(argv[3]) + ".tmp") << FormatCode(e.code) << "\n";
        std::rename((std::string(argv[3]) + ".tmp").c_str(), argv[3]);
      } else if (e.kind == LobbyEvent::Kind::Failed) {
        std::printf("FAILED %s\n", e.text.c_str());
        std::fflush(stdout);
        return 3;
      }
    }
    for (const NetEvent& e : netEvents) {
      if (e.kind == NetEvent::Kind::Agreed && !said) {
        said = true;
        agreedAt = NowMs();
        if (hosting && playMs > 0) {
          feed = std::make_unique<GameFeed>(*connection, lobby, client.Code(), client.Secret());
          feed->BeginGame(0, 42, 0);
          feed->LevelScreen(0);
        }
        std::printf("PLAYING %s after %u ms\n", connection->PeerEndpoint() == lobby ? "through the relay" : "directly",
                    NowMs() - start);
        std::fflush(stdout);
      } else if (e.kind == NetEvent::Kind::Message) {
        ++received;
      } else if (e.kind == NetEvent::Kind::Refused || e.kind == NetEvent::Kind::Lost) {
        std::printf("FAILED %s\n", e.kind == NetEvent::Kind::Lost ? "The connection to the other player was lost." : e.text.c_str());
        return 3;
      }
    }
    const bool playing = said && NowMs() - agreedAt < playMs;
    if (feed && playing && NowMs() - lastTick >= 16) {
      feed->Tick(NowMs() / 500 % 6, NowMs() / 700 % 6);
      lastTick = NowMs();
    }
    if (feed) feed->Service(NowMs());
    if (connection->Agreed() && (sent < kMessages || (playing && NowMs() - lastSent >= 100))) {
      connection->Send(MakeSignal(MessageType::Ready, sent++), true);
      lastSent = NowMs();
    }
    connection->Flush();
    if (received >= kMessages && sent >= kMessages && !playing) {
      // Give the last acknowledgements a moment, then leave.
      for (int i = 0; i < 50; ++i) {
        connection->Service(netEvents);
        connection->Flush();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      if (feed) {
        feed->End(StreamEnd::Quit);
        feed->Finish();
        std::printf("FED %s\n", Described(feed->Items()).c_str());
        std::fflush(stdout);
      }
      connection->Close();
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::printf("FAILED no game within %u ms (%u messages heard)\n", kDeadlineMs, received);
  return 4;
}
