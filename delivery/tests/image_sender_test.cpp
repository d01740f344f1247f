// ImageSender against the emulated library. The whole update states both paths' bytes literally
// and, under Windows, runs in real time, where the deck judges each pause; elsewhere the pauses
// pass at once on the deck's own clock.
#include "delivery/ImageSender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "delivery/TavroUSB.h"
#include "emulator/EmulatedLibrary.h"
#include "emulator/LibraryBackend.h"
#include "tests/support/DeckFixture.h"

namespace {
// A transfer window that records what the sender asked of it, and how many blocks had gone out then.
class RecordingView : public TransferView {
 public:
  explicit RecordingView(EmulatedDeck& deck) : deck(deck) {}
  void SetProgress(int position) override {
    positions.push_back({position, deck.Library().Counters().sendCalls});
  }
  void ShowWaitCursor() override { ++shows; }
  void EndWaitCursor() override { ++ends; }
  void PumpOneMessage() override { pumps.push_back(deck.Library().Counters().sendCalls); }
  EmulatedDeck& deck;
  std::vector<std::pair<int, int>> positions;
  std::vector<int> pumps;
  int shows = 0, ends = 0;
};

// A deck asked by the link to rewrite itself, bound to the library functions, and a sender on the
// deck's clock.
struct Bench : Reading {
  explicit Bench(const char* scenario) : Reading(Named(scenario)), binding(deck) {
    senderClock.onPause = [this](double ms) { deck.events.Skip(ms); };
    link.RequestRewrite();
  }
  LibraryDeckBinding binding;
  SimClock senderClock;  // a pause moves the deck's clock on at once
  std::unique_ptr<ImageSender> sender = std::make_unique<ImageSender>(senderClock);
  RecordingView view{deck};
  EmulatedLibrary::Counts library() { return deck.Library().Counters(); }
};
}  // namespace

TEST(Wire, AWholeUpdateOnBothPathsAsTheDeckRecordedIt) {
  EmulatedDeck deck(
      Named("success", [](Scenario& s) { s.replyDelayMs = s.acceptAfterMs = s.completeAfterMs = 0; }));
  LibraryDeckBinding binding(deck);
  LinkSession link(deck.Driver());
  ASSERT_TRUE(WaitForReading(deck));
  for (auto check : {&LinkSession::CheckLinkOpen, &LinkSession::CheckPipeReady, &LinkSession::CheckModel,
                     &LinkSession::CheckVersion, &LinkSession::CheckVariant, &LinkSession::CheckDiscOut,
                     &LinkSession::CheckMode, &LinkSession::RequestRewrite})
    EXPECT_EQ((link.*check)(), 1);
  SimClock deckClock;  // a pause moves the deck's clock on at once
  deckClock.onPause = [&](double ms) { deck.events.Skip(ms); };
#ifdef _WIN32
  Clock& clock = SystemClock();  // where the program runs: the one transfer that pays its 10 s
#else
  Clock& clock = deckClock;
#endif
  ImageSender sender(clock);
  RecordingView view(deck);
  ASSERT_EQ(sender.Open(), 1);
  ASSERT_EQ(sender.SendImage(view), 1);
  unsigned char status[4] = {}, reply[1024] = {};
  std::uint32_t got = 0;
  EXPECT_EQ(VornUsbControlRecive(sender.libraryHandle, 1, status, 4, &got), 1);
  EXPECT_EQ(Hex(status, got), "01 80 04 01");  // a reply of 260 bytes pending
  EXPECT_EQ(VornUsbControlRecive(sender.libraryHandle, 255, reply, 512, &got), 1);
  EXPECT_EQ(got, 260u);
  EXPECT_TRUE(WaitFor([&] { return link.IsRewriteDone() == 1; }));

  EXPECT_EQ(deck.Driver().DevicePath(),
            "\\\\?\\usb#vid_31d4&pid_008e#hvx0001#{f37537e5-e0d8-4b21-91e3-aa592a7a7eba}");
  EXPECT_EQ(HexFrames(deck.Driver().FramesReceived()),
            (Lines{"00 60 00", "04 00 60 C0 6A", "05 00 60 B0 F1 00", "04 00 60 B0 0F", "05 00 60 B0 CA FF",
                   "05 00 60 B0 C0 A6"}));
  EXPECT_EQ(HexFrames(deck.Driver().RepliesQueued()),
            (Lines{"00 60 01", "12 00 18 C8 6A 48 56 58 2D 5A 38 4B 51 20 20 20 20 20 01",
                   "0D 00 12 B8 F1 5A 38 4B 01 05 01 11 28 41",
                   "11 00 12 B8 70 00 01 00 00 13 00 00 00 00 00 00 00 00", "05 00 12 B8 CA 01",
                   "04 00 12 B8 EF"}));
  EXPECT_NE(deck.Report().find(R"("kind":"control","text":"control 0x220004 )"), std::string::npos);
  EXPECT_EQ(Hex(deck.Library().Counters().headers[0]), "01 00 02 01 80 00 00 00 00 00 06 00 00");
  EXPECT_EQ(Hex(deck.Library().Counters().headers[1023]), "01 00 02 01 80 00 05 FE 80 00 06 00 00");
  EXPECT_TRUE(deck.Library().Counters().imageIdentical);
  EXPECT_EQ(deck.Library().Counters().faultKinds, Lines{});  // every pause long enough, no call out of order
  EXPECT_EQ(std::make_pair(deck.Driver().Counters().controlsRefused, deck.Driver().Counters().readsOverrun),
            std::make_pair(0, 0));
  EXPECT_TRUE(sender.log.Snapshot().empty());
  // Every block once, with the progress set just before it and one message pumped right after; the
  // wait cursor shown before each, and ended.
  std::vector<std::pair<int, int>> positions;
  std::vector<int> pumps;
  for (int i = 0; i < 1024; ++i) positions.push_back({i, i}), pumps.push_back(i + 1);
  EXPECT_EQ(view.positions, positions);
  EXPECT_EQ(view.pumps, pumps);
  EXPECT_EQ(std::make_pair(view.shows, view.ends), std::make_pair(1025, 1));
}

TEST(ImageSenderOpen, OpensTheLastDeckEnumeratedOrLogsWhyNotAndClosesEachDeckOnce) {
  const std::pair<const char*, const char*> cases[] = {
      {"library-two-decks", nullptr},
      {"library-absent", "No Tavro exists"},
      {"library-name-refused", "The Device Name aquisition was failed"},
      {"library-open-refused", "The handle aquisition was failed"}};
  for (const auto& [scenario, why] : cases) {
    SCOPED_TRACE(scenario);
    Bench bench(scenario);
    EXPECT_EQ(bench.sender->Open(), why ? 0 : 1);
    EXPECT_EQ(bench.sender->libraryHandle != 0u, !why);
    EXPECT_EQ(bench.library().openedDeck, why ? -1 : 1);
    EXPECT_EQ(bench.sender->log.Snapshot(), why ? Lines{why} : Lines{});
    // Closed by opening again, by Close (once, however often it is called) and by destruction.
    const int opens = why ? 0 : 1;
    EXPECT_EQ((std::vector<int>{bench.sender->Close(), bench.sender->Close(), bench.sender->Open(),
                                bench.sender->Open()}),
              (std::vector<int>{1, 1, opens, opens}));
    bench.sender.reset();
    EXPECT_EQ(bench.library().openHandles, 0);
    EXPECT_EQ(bench.library().closeCalls, why ? 0 : 3);
    EXPECT_EQ(bench.library().faultKinds, Lines{});
  }
}

// After a whole transfer, or one refused at a block: the refusal, and the status rules.
TEST(ImageSenderTransfer, StopsAtARefusedBlockAndReadsTheReplyOnlyWhenAWholeStatusShowsOnePending) {
  constexpr std::int32_t kOk = ImageSender::kQueryOk, kFailed = ImageSender::kQueryFailed;
  const struct {
    const char* scenario;
    std::int32_t query, length;  // QueryPending's answer
    int read;                    // the first poll's; a second finds nothing, the reply being read
  } cases[] = {{"success", kOk, 260, 1},        {"no-acceptance", kOk, 0, 0},
               {"pending-flag-2", kOk, 0, 0},   {"zero-pending-length", kOk, 0, 0},
               {"short-status", kFailed, 0, 0}, {"empty-reply", kOk, 260, 1},
               {"refuse-block-512", kOk, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    Bench bench(c.scenario);
    const int refused = bench.deck.scenario.refuseBlock;
    ASSERT_EQ(bench.sender->Open(), 1);
    EXPECT_EQ(bench.sender->SendImage(bench.view), refused < 0 ? 1 : 0);
    // Nothing after a refused block; its progress set, the wait cursor left on.
    EXPECT_EQ(bench.library().sendCalls, refused < 0 ? 1024 : refused + 1);
    EXPECT_EQ(bench.view.positions.size(), std::size_t(bench.library().sendCalls));
    EXPECT_EQ(bench.view.ends, refused < 0 ? 1 : 0);
    bench.deck.events.Skip(std::max(0, bench.deck.scenario.acceptAfterMs));
    std::int32_t length = -1;
    EXPECT_EQ(bench.sender->QueryPending(&length), c.query);
    EXPECT_EQ(length, c.length);
    bench.sender->accepted = 7;  // left alone by a poll that reads nothing
    EXPECT_EQ((std::vector<int>{bench.sender->PollAccepted(), bench.sender->PollAccepted()}),
              (std::vector<int>{c.read, 0}));
    EXPECT_EQ(bench.sender->accepted, c.read ? 1 : 7);
    EXPECT_EQ((std::vector<int>{bench.library().replyReads, bench.library().statusReads,
                                bench.library().openHandles}),
              (std::vector<int>{c.read, 3, 1}));
    EXPECT_TRUE(bench.sender->log.Snapshot().empty());
    EXPECT_EQ(bench.library().faultKinds, Lines{});
  }
}
