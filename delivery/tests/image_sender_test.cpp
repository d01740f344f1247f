// ImageSender against the emulated deck's library side: what reaches the deck, in which order,
// and what the sender makes of the deck's answers.
#include "delivery/ImageSender.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "delivery/TavroUsb.h"
#include "emulator/EmulatedDeck.h"
#include "emulator/LibrarySide.h"
#include "emulator/library_calls.h"
#include "emulator/tests/LibraryCaller.h"
#include "image/FirmwareImage.h"

namespace {

Scenario Named(const char* name) {
  const Scenario* s = FindScenario(name);
  EXPECT_NE(s, nullptr) << name;
  return s ? *s : Scenario{};
}

// A transfer window that records what the sender asked of it, and where the deck stood then.
class RecordingView : public TransferView {
 public:
  explicit RecordingView(EmulatedDeck& deck) : deck(deck) {}
  void SetProgress(int position) override {
    positions.push_back(position);
    sentBeforePosition.push_back(deck.Library().SendCalls());
  }
  void ShowWaitCursor() override {
    ++shows;
    waiting = true;
  }
  void EndWaitCursor() override {
    ++ends;
    waiting = false;
  }
  void PumpOneMessage() override { sentBeforePump.push_back(deck.Library().SendCalls()); }

  EmulatedDeck& deck;
  std::vector<int> positions;
  std::vector<int> sentBeforePosition;
  std::vector<int> sentBeforePump;
  int shows = 0;
  int ends = 0;
  bool waiting = false;
};

// One deck asked to rewrite itself, bound to the library functions, and a sender; the sender goes
// first.
struct Bench {
  explicit Bench(const Scenario& scenario)
      : deck(scenario), binding(deck), sender(std::make_unique<ImageSender>()) {
    EXPECT_TRUE(RequestRewrite(deck));
  }
  EmulatedDeck deck;
  LibraryDeckBinding binding;
  std::unique_ptr<ImageSender> sender;
  LibrarySide& library() { return deck.Library(); }
};

using Bytes = std::vector<std::uint8_t>;

}  // namespace

// One whole run as the transfer stage makes it: open, send, poll for the reply, close twice.
TEST(ImageSenderTransfer, SendsEveryBlockOnceInOrderThenReadsTheReplyAndClosesOnce) {
  Bench bench(Named("success"));
  RecordingView view(bench.deck);
  ASSERT_EQ(bench.sender->Open(), 1);
  ASSERT_EQ(bench.sender->SendImage(view), 1);
  bench.sender->accepted = 0;
  int polls = 0;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!bench.sender->accepted && std::chrono::steady_clock::now() < limit)
    polls += bench.sender->PollAccepted();
  EXPECT_EQ(bench.library().OpenHandles(), 1);
  EXPECT_EQ(bench.sender->Close(), 1);
  EXPECT_EQ(bench.sender->Close(), 1);

  // Every block once, with the progress set just before it and one message pumped right after.
  EXPECT_EQ(bench.library().SendCalls(), 1024);
  EXPECT_EQ(bench.library().BlocksReceived(), 1024);
  ASSERT_EQ(view.positions.size(), 1024u);
  ASSERT_EQ(view.sentBeforePump.size(), 1024u);
  for (int i = 0; i < 1024; ++i) {
    ASSERT_EQ(view.positions[i], i);
    ASSERT_EQ(view.sentBeforePosition[i], i) << "position " << i << " set after its block went out";
    ASSERT_EQ(view.sentBeforePump[i], i + 1) << "no pump right after block " << i;
  }
  EXPECT_EQ(view.shows, 1025);
  EXPECT_EQ(view.ends, 1);
  EXPECT_FALSE(view.waiting);

  // The headers carry the constant bytes and a big-endian offset.
  EXPECT_EQ(bench.library().Header(0),
            (Bytes{0x01, 0x00, 0x02, 0x01, 0x80, 0, 0, 0, 0, 0x00, 0x06, 0x00, 0x00}));
  EXPECT_EQ(bench.library().Header(1),
            (Bytes{0x01, 0x00, 0x02, 0x01, 0x80, 0, 0, 0x01, 0x80, 0x00, 0x06, 0x00, 0x00}));
  EXPECT_EQ(bench.library().Header(1023),
            (Bytes{0x01, 0x00, 0x02, 0x01, 0x80, 0x00, 0x05, 0xFE, 0x80, 0x00, 0x06, 0x00, 0x00}));
  const std::vector<std::uint8_t> image = bench.library().Image();
  EXPECT_EQ(0, std::memcmp(image.data() + 392832, FirmwareImage + 392832, 384)) << "last block's data";
  EXPECT_TRUE(bench.library().ImageIdentical());
  EXPECT_EQ(bench.library().Faults(), std::vector<std::string>{});
  EXPECT_TRUE(bench.sender->log.Snapshot().empty());

  // The deck found each of the 1,023 pauses long enough: no fault above.
  EXPECT_EQ(bench.library().Pauses().size(), 1023u);

  // The reply is read once, and the deck closed once.
  EXPECT_EQ(bench.sender->accepted, 1);
  EXPECT_EQ(polls, 1);
  EXPECT_EQ(bench.library().ReplyReads(), 1);
  EXPECT_EQ(bench.library().CloseCalls(), 1);
  EXPECT_EQ(bench.library().OpenHandles(), 0);
  EXPECT_EQ(bench.sender->libraryHandle, 0u);
}

TEST(ImageSenderRefusal, StopsAtTheRefusedBlockWithTheProgressThereAndTheDeckOpen) {
  for (int k : {0, 7}) {
    SCOPED_TRACE(k);
    Scenario scenario = Named("success");
    scenario.refuseBlock = k;
    Bench bench(scenario);
    RecordingView view(bench.deck);
    ASSERT_EQ(bench.sender->Open(), 1);
    EXPECT_EQ(bench.sender->SendImage(view), 0);
    ASSERT_FALSE(view.positions.empty());
    EXPECT_EQ(view.positions.back(), k);
    EXPECT_EQ(view.positions.size(), std::size_t(k + 1));
    EXPECT_EQ(bench.library().SendCalls(), k + 1) << "a block went out after the refused one";
    EXPECT_EQ(bench.library().BlocksReceived(), k);
    EXPECT_EQ(bench.library().Faults(), std::vector<std::string>{});
    EXPECT_EQ(bench.library().OpenHandles(), 1);
    EXPECT_TRUE(bench.sender->log.Snapshot().empty());
    EXPECT_EQ(view.ends, 0) << "the wait cursor stays on at a refused block";
    bench.sender->Close();
    EXPECT_EQ(bench.library().OpenHandles(), 0);
  }
}

TEST(ImageSenderOpen, OpensTheLastDeckEnumeratedOrLogsWhyNot) {
  struct Case {
    const char* scenario;
    int deck;         // the deck opened, -1 for none
    const char* why;  // the log line when none is
  };
  for (const Case& c : {Case{"success", 0, nullptr}, Case{"library-two-decks", 1, nullptr},
                        Case{"library-absent", -1, "No Tavro exists"},
                        Case{"library-name-refused", -1, "The Device Name aquisition was failed"},
                        Case{"library-open-refused", -1, "The handle aquisition was failed"}}) {
    SCOPED_TRACE(c.scenario);
    Bench bench(Named(c.scenario));
    const bool opens = c.deck >= 0;
    EXPECT_EQ(bench.sender->Open(), opens ? 1 : 0);
    EXPECT_EQ(bench.sender->libraryHandle != 0u, opens);
    EXPECT_EQ(bench.library().OpenHandles(), opens ? 1 : 0);
    EXPECT_EQ(bench.library().OpenedDeck(), c.deck);
    EXPECT_EQ(bench.sender->log.Snapshot(),
              opens ? std::vector<std::string>{} : std::vector<std::string>{c.why});
    EXPECT_EQ(bench.library().Faults(), std::vector<std::string>{});
  }
}

TEST(ImageSenderClose, EachDeckIsClosedOnceByOpeningAgainByCloseOrByDestruction) {
  Bench bench(Named("success"));
  EXPECT_EQ(bench.sender->Close(), 1);
  EXPECT_EQ(bench.library().CloseCalls(), 0) << "a library call with no deck open";
  ASSERT_EQ(bench.sender->Open(), 1);
  ASSERT_EQ(bench.sender->Open(), 1);  // gives the first handle back
  EXPECT_EQ(bench.library().OpenHandles(), 1);
  EXPECT_EQ(bench.library().CloseCalls(), 1);
  EXPECT_EQ(bench.sender->Close(), 1);
  EXPECT_EQ(bench.sender->Close(), 1);
  EXPECT_EQ(bench.library().CloseCalls(), 2);
  ASSERT_EQ(bench.sender->Open(), 1);
  bench.sender.reset();
  EXPECT_EQ(bench.library().OpenHandles(), 0);
  EXPECT_EQ(bench.library().CloseCalls(), 3);
  EXPECT_EQ(bench.library().Faults(), std::vector<std::string>{});
}

// The status rules, against a deck that already holds the whole image.
TEST(ImageSenderStatus, OnlyAWholeStatusWithAReplyPendingLeadsToARead) {
  struct Case {
    const char* scenario;
    int acceptAfterMs;
    std::int32_t query, length;  // QueryPending's answer: bytes 2 and 3, little-endian, when byte 0 is 1
    int polls;
    int acceptedBefore;  // a failed poll leaves `accepted` alone
    int firstPoll;       // the later polls find nothing: the one reply was read already
    int replyReads;
  };
  constexpr std::int32_t kOk = ImageSender::kQueryOk, kFailed = ImageSender::kQueryFailed;
  for (const Case& c :
       {Case{"success", 0, kOk, 260, 2, 0, 1, 1}, Case{"success", 60000, kOk, 0, 50, 0, 0, 0},
        Case{"pending-flag-2", 0, kOk, 0, 1, 0, 0, 0}, Case{"zero-pending-length", 0, kOk, 0, 1, 0, 0, 0},
        Case{"short-status", 0, kFailed, 0, 1, 1, 0, 0},
        Case{"empty-reply", 0, kOk, 260, 1, 0, 1, 1},  // a reply of no bytes counts too
        Case{"no-acceptance", -1, kOk, 0, 200, 0, 0, 0}}) {
    SCOPED_TRACE(std::string(c.scenario) + " " + std::to_string(c.acceptAfterMs));
    Scenario scenario = Named(c.scenario);
    scenario.acceptAfterMs = c.acceptAfterMs;
    Bench bench(scenario);
    ASSERT_EQ(bench.sender->Open(), 1);
    SendImagePaced(bench.deck, bench.sender->libraryHandle);  // without waiting out the pauses
    std::int32_t length = -1;
    EXPECT_EQ(bench.sender->QueryPending(&length), c.query);
    EXPECT_EQ(length, c.length);
    bench.sender->accepted = c.acceptedBefore;
    EXPECT_EQ(bench.sender->PollAccepted(), c.firstPoll);
    int later = 0;
    for (int i = 1; i < c.polls; ++i) later += bench.sender->PollAccepted();
    EXPECT_EQ(later, 0);
    EXPECT_EQ(bench.sender->accepted, c.acceptedBefore | c.firstPoll);
    EXPECT_EQ(bench.library().ReplyReads(), c.replyReads);
    EXPECT_EQ(bench.library().StatusReads(), 1 + c.polls);
    EXPECT_EQ(bench.library().Faults(), std::vector<std::string>{});
  }
}
