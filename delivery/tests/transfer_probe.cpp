// One transfer as the transfer stage makes it (open, send, poll for the reply, close), without the
// rewrite request, which goes over the driver, and its pauses passed at once: a quick run of the
// library's wiring, whose first block the deck refuses. One status read follows all the same, so
// that each of the six calls goes through the library. Built with the emulated deck linked in, and
// against TavroUSB.dll by import, which is the program whose imports are checked like the
// release's. Exits 0 when the deck took the image and replied.
#include <cstdio>

#include "delivery/ImageSender.h"
#include "tests/support/SimClock.h"

namespace {
// No window.
class NoView : public TransferView {
 public:
  void SetProgress(int) override {}
  void ShowWaitCursor() override {}
  void EndWaitCursor() override {}
  void PumpOneMessage() override {}
};
}  // namespace

int main() {
  SimClock quick;
  NoView view;
  ImageSender sender(quick);
  const int sent = sender.Open() && sender.SendImage(view);
  const double limit = SystemClock().NowMs() + 8100;  // the transfer stage's 81 timer periods
  if (sender.libraryHandle) sender.PollAccepted();
  while (sent && !sender.accepted && SystemClock().NowMs() < limit) sender.PollAccepted();
  for (const std::string& line : sender.log.Snapshot()) std::printf("%s\n", line.c_str());
  std::printf("image %s, reply %s\n", sent ? "sent" : "not sent", sender.accepted ? "read" : "not read");
  sender.Close();
  return sent && sender.accepted ? 0 : 1;
}
