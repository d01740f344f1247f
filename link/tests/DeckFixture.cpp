#include "link/tests/DeckFixture.h"

#include <chrono>
#include <stdexcept>

void SimClock::SleepMs(double ms) {
  std::lock_guard<std::mutex> hold(lock);
  now += ms + lateMs;
  sleeps.push_back(ms);
}

bool SimClock::WaitMs(std::unique_lock<std::mutex>& hold, std::condition_variable& wake, double ms,
                      const std::function<bool()>& done) {
  {
    std::lock_guard<std::mutex> own(lock);
    pauses.push_back(ms);
    if (ms < holdFromMs) {
      now += ms;
      return done();
    }
    ++held;
  }
  const bool stopped = wake.wait_for(hold, std::chrono::seconds(10), done);
  std::lock_guard<std::mutex> own(lock);
  cutShort += stopped;
  return stopped;
}

Scenario Named(const std::string& name, const std::function<void(Scenario&)>& change) {
  const Scenario* found = FindScenario(name);
  if (!found) throw std::invalid_argument("no scenario " + name);
  Scenario s = *found;
  if (change) change(s);
  return s;
}

bool WaitForReading(EmulatedDeck& deck) {
  return WaitFor([&] { return deck.Driver().BlockedReads() > 0; });
}

bool WaitForWorkerEnd(const LinkSession& session) {
  return WaitFor([&] { return !session.WorkerRunning(); });
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
