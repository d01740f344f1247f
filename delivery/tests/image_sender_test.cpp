// ImageSender against the emulated deck's library side: what reaches the deck, in which order,
// and what the sender makes of the deck's answers.
#include "delivery/ImageSender.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "delivery/TavroUsb.h"
#include "emulator/EmulatedDeck.h"
#include "emulator/LibrarySide.h"
#include "emulator/library_calls.h"
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

// One deck, bound to the library functions, and a sender; the sender goes first.
struct Bench {
  explicit Bench(const Scenario& scenario)
      : deck(scenario), binding(deck), sender(std::make_unique<ImageSender>()) {}
  EmulatedDeck deck;
  LibraryDeckBinding binding;
  std::unique_ptr<ImageSender> sender;
  LibrarySide& library() { return deck.Library(); }
};

// Brings the deck to "whole image received" without the sender's 10 ms pauses.
void PushImageDirectly(std::uint32_t handle) {
  unsigned char block[397] = {0x01, 0x00, 0x02, 0x01, 0x80, 0, 0, 0, 0, 0x00, 0x06, 0x00, 0x00};
  for (std::uint32_t offset = 0; offset < kFirmwareImageSize; offset += 384) {
    block[5] = offset >> 24;
    block[6] = offset >> 16 & 0xFF;
    block[7] = offset >> 8 & 0xFF;
    block[8] = offset & 0xFF;
    std::memcpy(block + 13, FirmwareImage + offset, 384);
    ASSERT_NE(VornUsbControlSend(handle, 255, block, 397), 0) << "offset " << offset;
  }
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
  return std::vector<std::uint8_t>(values.begin(), values.end());
}

// One whole run as the transfer stage makes it: open, send, poll for the reply, close twice.
class SuccessfulTransfer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    bench = new Bench(Named("success"));
    view = new RecordingView(bench->deck);
    opened = bench->sender->Open();
    sent = bench->sender->SendImage(*view);
    bench->sender->accepted = 0;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!bench->sender->accepted && std::chrono::steady_clock::now() < limit)
      polls += bench->sender->PollAccepted();
    openAfterPolling = bench->library().OpenHandles();
    firstClose = bench->sender->Close();
    secondClose = bench->sender->Close();
  }
  static void TearDownTestSuite() {
    delete view;
    delete bench;
  }
  static Bench* bench;
  static RecordingView* view;
  static int opened, sent, polls, openAfterPolling, firstClose, secondClose;
};
Bench* SuccessfulTransfer::bench;
RecordingView* SuccessfulTransfer::view;
int SuccessfulTransfer::opened, SuccessfulTransfer::sent, SuccessfulTransfer::polls,
    SuccessfulTransfer::openAfterPolling, SuccessfulTransfer::firstClose, SuccessfulTransfer::secondClose;

TEST_F(SuccessfulTransfer, SendsEveryBlockOnceWithTheProgressSetJustBeforeIt) {
  ASSERT_EQ(opened, 1);
  ASSERT_EQ(sent, 1);
  EXPECT_EQ(bench->library().SendCalls(), 1024);
  EXPECT_EQ(bench->library().BlocksReceived(), 1024);
  ASSERT_EQ(view->positions.size(), 1024u);
  for (int i = 0; i < 1024; ++i) {
    ASSERT_EQ(view->positions[i], i);
    ASSERT_EQ(view->sentBeforePosition[i], i) << "position " << i << " set after its block went out";
    ASSERT_EQ(view->sentBeforePump[i], i + 1) << "no pump right after block " << i;
  }
  EXPECT_EQ(view->sentBeforePump.size(), 1024u);
  EXPECT_EQ(view->shows, 1025);
  EXPECT_EQ(view->ends, 1);
  EXPECT_FALSE(view->waiting);
}

TEST_F(SuccessfulTransfer, BlockHeadersCarryTheConstantBytesAndABigEndianOffset) {
  EXPECT_EQ(bench->library().Header(0),
            Bytes({0x01, 0x00, 0x02, 0x01, 0x80, 0, 0, 0, 0, 0x00, 0x06, 0x00, 0x00}));
  EXPECT_EQ(bench->library().Header(1),
            Bytes({0x01, 0x00, 0x02, 0x01, 0x80, 0, 0, 0x01, 0x80, 0x00, 0x06, 0x00, 0x00}));
  EXPECT_EQ(bench->library().Header(1023),
            Bytes({0x01, 0x00, 0x02, 0x01, 0x80, 0x00, 0x05, 0xFE, 0x80, 0x00, 0x06, 0x00, 0x00}));
  const std::vector<std::uint8_t> image = bench->library().Image();
  EXPECT_EQ(0, std::memcmp(image.data() + 392832, FirmwareImage + 392832, 384)) << "last block's data";
}

TEST_F(SuccessfulTransfer, DeckHoldsTheImageByteForByteAndSawNoFault) {
  EXPECT_TRUE(bench->library().ImageIdentical());
  EXPECT_EQ(bench->library().Faults(), std::vector<std::string>{});
  EXPECT_NE(bench->deck.Report().find("image: complete, byte-identical"), std::string::npos)
      << bench->deck.Report();
  EXPECT_TRUE(bench->sender->log.Snapshot().empty());
}

TEST_F(SuccessfulTransfer, PausesAtLeastTenMillisecondsBetweenBlocks) {
  const std::vector<double> pauses = bench->library().Pauses();
  ASSERT_EQ(pauses.size(), 1023u);
  for (double p : pauses) ASSERT_GE(p, 9.0);  // the sleep itself; slowness only adds
}

TEST_F(SuccessfulTransfer, ReadsTheReplyOnceAndClosesTheDeckOnce) {
  EXPECT_EQ(bench->sender->accepted, 1);
  EXPECT_EQ(polls, 1);
  EXPECT_EQ(bench->library().ReplyReads(), 1);
  EXPECT_EQ(openAfterPolling, 1);
  EXPECT_EQ(firstClose, 1);
  EXPECT_EQ(secondClose, 1);
  EXPECT_EQ(bench->library().CloseCalls(), 1);
  EXPECT_EQ(bench->library().OpenHandles(), 0);
  EXPECT_EQ(bench->sender->libraryHandle, 0u);
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
    EXPECT_FALSE(view.waiting) << "wait cursor left on for the error message";
    bench.sender->Close();
    EXPECT_EQ(bench.library().OpenHandles(), 0);
  }
}

TEST(ImageSenderOpen, LogsWhyItCouldNotOpen) {
  struct Case {
    const char* scenario;
    const char* text;
  };
  for (const Case& c : {Case{"library-absent", "No Tavro exists"},
                        Case{"library-name-refused", "The Device Name aquisition was failed"},
                        Case{"library-open-refused", "The handle aquisition was failed"}}) {
    SCOPED_TRACE(c.scenario);
    Bench bench(Named(c.scenario));
    EXPECT_EQ(bench.sender->Open(), 0);
    EXPECT_EQ(bench.sender->libraryHandle, 0u);
    EXPECT_EQ(bench.sender->log.Snapshot(), std::vector<std::string>{c.text});
    EXPECT_EQ(bench.library().OpenHandles(), 0);
    EXPECT_EQ(bench.library().Faults(), std::vector<std::string>{});
  }
}

TEST(ImageSenderOpen, OpensTheLastDeckEnumerated) {
  for (int decks : {1, 2}) {
    SCOPED_TRACE(decks);
    Scenario scenario = Named("success");
    scenario.libraryDecks = decks;
    Bench bench(scenario);
    EXPECT_EQ(bench.sender->Open(), 1);
    EXPECT_NE(bench.sender->libraryHandle, 0u);
    EXPECT_EQ(bench.library().OpenedDeck(), decks - 1);
    EXPECT_TRUE(bench.sender->log.Snapshot().empty());
    EXPECT_EQ(bench.library().Faults(), std::vector<std::string>{});
  }
}

TEST(ImageSenderOpen, OpeningAgainGivesTheFirstHandleBack) {
  Bench bench(Named("success"));
  ASSERT_EQ(bench.sender->Open(), 1);
  ASSERT_EQ(bench.sender->Open(), 1);
  EXPECT_EQ(bench.library().OpenHandles(), 1);
  EXPECT_EQ(bench.library().CloseCalls(), 1);
}

TEST(ImageSenderClose, IsHarmlessWhenNothingIsOpenAndWhenRepeated) {
  Bench bench(Named("success"));
  EXPECT_EQ(bench.sender->Close(), 1);
  EXPECT_EQ(bench.library().CloseCalls(), 0) << "a library call with no deck open";
  ASSERT_EQ(bench.sender->Open(), 1);
  EXPECT_EQ(bench.sender->Close(), 1);
  EXPECT_EQ(bench.sender->Close(), 1);
  EXPECT_EQ(bench.library().CloseCalls(), 1);
  EXPECT_EQ(bench.library().Faults(), std::vector<std::string>{});
}

TEST(ImageSenderClose, DestructionClosesADeckStillOpen) {
  Bench bench(Named("success"));
  ASSERT_EQ(bench.sender->Open(), 1);
  bench.sender.reset();
  EXPECT_EQ(bench.library().OpenHandles(), 0);
  EXPECT_EQ(bench.library().CloseCalls(), 1);
}

// The status rules, against a deck that already holds the whole image.
class StatusRules : public ::testing::Test {
 protected:
  void Start(const char* name, int acceptAfterMs = 0) {
    Scenario scenario = Named(name);
    scenario.acceptAfterMs = acceptAfterMs;
    bench = std::make_unique<Bench>(scenario);
    ASSERT_EQ(bench->sender->Open(), 1);
    PushImageDirectly(bench->sender->libraryHandle);
  }
  std::unique_ptr<Bench> bench;
};

TEST_F(StatusRules, APendingReplyIsReadAndCountsAsAcceptance) {
  Start("success");
  std::int32_t length = -1;
  EXPECT_EQ(bench->sender->QueryPending(&length), ImageSender::kQueryOk);
  EXPECT_EQ(length, 260) << "bytes 2 and 3 are the little-endian length";
  EXPECT_EQ(bench->sender->PollAccepted(), 1);
  EXPECT_EQ(bench->sender->accepted, 1);
  EXPECT_EQ(bench->library().ReplyReads(), 1);
  EXPECT_EQ(bench->sender->PollAccepted(), 0) << "the one reply was read already";
  EXPECT_EQ(bench->sender->accepted, 1);
  EXPECT_EQ(bench->library().Faults(), std::vector<std::string>{});
}

TEST_F(StatusRules, NoReplyYetMeansNoRead) {
  Start("success", 60000);
  std::int32_t length = -1;
  EXPECT_EQ(bench->sender->QueryPending(&length), ImageSender::kQueryOk);
  EXPECT_EQ(length, 0);
  for (int i = 0; i < 50; ++i) ASSERT_EQ(bench->sender->PollAccepted(), 0);
  EXPECT_EQ(bench->sender->accepted, 0);
  EXPECT_EQ(bench->library().ReplyReads(), 0);
  EXPECT_EQ(bench->library().StatusReads(), 51);
  EXPECT_EQ(bench->library().Faults(), std::vector<std::string>{});
}

TEST_F(StatusRules, OnlyAFirstByteOfOneMarksAPendingReply) {
  Start("pending-flag-2");
  std::int32_t length = -1;
  EXPECT_EQ(bench->sender->QueryPending(&length), ImageSender::kQueryOk);
  EXPECT_EQ(length, 0) << "the length counts only when byte 0 is 1";
  EXPECT_EQ(bench->sender->PollAccepted(), 0);
  EXPECT_EQ(bench->library().ReplyReads(), 0);
}

TEST_F(StatusRules, APendingReplyOfLengthZeroIsNotRead) {
  Start("zero-pending-length");
  std::int32_t length = -1;
  EXPECT_EQ(bench->sender->QueryPending(&length), ImageSender::kQueryOk);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(bench->sender->PollAccepted(), 0);
  EXPECT_EQ(bench->library().ReplyReads(), 0);
}

TEST_F(StatusRules, AStatusShorterThanFourBytesFailsWhateverItSays) {
  Start("short-status");
  std::int32_t length = -1;
  EXPECT_EQ(bench->sender->QueryPending(&length), ImageSender::kQueryFailed);
  EXPECT_EQ(length, 0);
  bench->sender->accepted = 1;
  EXPECT_EQ(bench->sender->PollAccepted(), 0);
  EXPECT_EQ(bench->sender->accepted, 1) << "a failed poll leaves accepted alone";
  EXPECT_EQ(bench->library().ReplyReads(), 0);
}

TEST_F(StatusRules, AReplyOfZeroBytesStillCountsAsAcceptance) {
  Start("empty-reply");
  EXPECT_EQ(bench->sender->PollAccepted(), 1);
  EXPECT_EQ(bench->sender->accepted, 1);
  EXPECT_EQ(bench->library().ReplyReads(), 1);
}

TEST_F(StatusRules, ADeckThatNeverRepliesIsPolledWithoutEnd) {
  Start("no-acceptance", -1);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(bench->sender->PollAccepted(), 0);
  EXPECT_EQ(bench->library().ReplyReads(), 0);
  EXPECT_EQ(bench->library().Faults(), std::vector<std::string>{});
}

}  // namespace
