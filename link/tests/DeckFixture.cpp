#include "link/tests/DeckFixture.h"

#include <stdexcept>

Scenario Named(const std::string& name, const std::function<void(Scenario&)>& change) {
  const Scenario* found = FindScenario(name);
  if (!found) throw std::invalid_argument("no scenario " + name);
  Scenario s = *found;
  if (change) change(s);
  return s;
}

bool WaitForReading(EmulatedDeck& deck, int limitMs) {
  return WaitFor([&] { return deck.Driver().BlockedReads() > 0; }, limitMs);
}

bool WaitForWorkerEnd(const LinkSession& session, int limitMs) {
  return WaitFor([&] { return !session.WorkerRunning(); }, limitMs);
}

Lines HexFrames(const std::vector<std::vector<unsigned char>>& frames) {
  Lines out;
  for (const auto& f : frames) out.push_back(Hex(f));
  return out;
}

Lines OpenedLines(int readSize, int writeSize) {
  return {"USBデバイスを発見しました。", "read max packet size =" + std::to_string(readSize),
          "write max packet size =" + std::to_string(writeSize),
          "POWER ON REQローカルコマンドを送信しました。", "Send Data: [LINK KIT LOCAL COMMAND] 006000"};
}

Lines Concat(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
