// One transfer as the transfer stage makes it, without the rewrite request (that goes over the
// driver): the deck refuses the first block, and a status read follows so that all six library
// calls are made. Built against the linked-in deck and against TavroUSB.dll by import, the
// program whose imports are checked like the release's. Exit 0 when the deck took the image.
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
