// One transfer as the transfer stage makes it (open, send, poll for the reply, close), timed.
// Prints the transfer's wall time against its 10.24-second floor and the pauses between blocks.
// Built against the emulated deck linked in, and (Windows) against TavroUSB.dll by import.
// Exits 0 when the deck took the image and replied, 1 otherwise.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "delivery/ImageSender.h"
#ifdef TREVOLIN_PROBE_EMULATED
#include "emulator/EmulatedDeck.h"
#include "emulator/LibrarySide.h"
#endif

namespace {
using Steady = std::chrono::steady_clock;

double Ms(Steady::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Notes when each block is about to go out; there is no window, so nothing to pump.
class TimingView : public TransferView {
 public:
  void SetProgress(int position) override {
    last = position;
    starts.push_back(Steady::now());
  }
  void ShowWaitCursor() override {}
  void EndWaitCursor() override {}
  void PumpOneMessage() override {}

  int last = -1;
  std::vector<Steady::time_point> starts;
};
}  // namespace

int main() {
  ImageSender sender;
  if (sender.Open() != 1) {
    for (const std::string& line : sender.log.Snapshot()) std::printf("open failed: %s\n", line.c_str());
    return 1;
  }
  TimingView view;
  const Steady::time_point begin = Steady::now();
  const int sent = sender.SendImage(view);
  const double wall = Ms(Steady::now() - begin);
  std::printf("transfer: %s after %d blocks, %.3f s (floor %.3f s, %+.1f %%)\n", sent ? "done" : "refused",
              view.last + (sent ? 1 : 0), wall / 1000, kImageBlocks * kBlockPauseMs / 1000.0,
              (wall / (kImageBlocks * kBlockPauseMs) - 1) * 100);

  std::vector<double> pauses;
  for (std::size_t i = 1; i < view.starts.size(); ++i)
    pauses.push_back(Ms(view.starts[i] - view.starts[i - 1]));
  if (!pauses.empty()) {
    std::sort(pauses.begin(), pauses.end());
    double sum = 0;
    for (double p : pauses) sum += p;
    std::printf(
        "pauses between blocks, sender side (%zu): min %.2f ms, median %.2f ms, mean %.2f ms, max %.2f ms\n",
        pauses.size(), pauses.front(), pauses[pauses.size() / 2], sum / pauses.size(), pauses.back());
  }

  int polls = 0;
  if (sent) {
    // The transfer stage's limit: 81 timer periods of 100 ms.
    const Steady::time_point pollStart = Steady::now();
    sender.accepted = 0;
    while (!sender.accepted && Steady::now() - pollStart < std::chrono::milliseconds(8100)) {
      sender.PollAccepted();
      ++polls;
    }
    std::printf("reply: %s after %.3f s, %d polls\n", sender.accepted ? "read" : "none",
                Ms(Steady::now() - pollStart) / 1000, polls);
  }
  sender.Close();
#ifdef TREVOLIN_PROBE_EMULATED
  std::printf("%s", (EmulatedDeck::Process().Library().Report().Text() + "\n").c_str());
#endif
  return sent && sender.accepted ? 0 : 1;
}
