// The emulated deck's library side as an oracle: it must take a faithful transfer and catch,
// with what it expected and what arrived, every way a transfer can go wrong.
#include "emulator/LibrarySide.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "delivery/TavroUsb.h"
#include "emulator/DriverSide.h"
#include "emulator/EmulatedDeck.h"
#include "emulator/library_calls.h"
#include "emulator/tests/LibraryCaller.h"
#include "image/FirmwareImage.h"

namespace {
using Kinds = std::vector<std::string>;

Scenario Quick(int acceptAfterMs = 0, const std::function<void(Scenario&)>& change = {}) {
  Scenario s = *FindScenario("success");
  s.acceptAfterMs = acceptAfterMs;
  if (change) change(s);
  return s;
}

std::string FaultText(EmulatedDeck& deck) {
  std::string all;
  for (const std::string& f : deck.Library().Faults()) all += f + "\n";
  return all;
}

// Whether `text` holds `part`; a failure shows the whole text.
::testing::AssertionResult Holds(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no \"" << part << "\" in:\n" << text;
}

// A deck bound to the six functions and opened the way the program opens it, asked to rewrite
// itself first unless the test says otherwise.
struct OpenDeck {
  explicit OpenDeck(const Scenario& s, bool rewriteRequested = true) : deck(s), binding(deck) {
    if (rewriteRequested) {
      EXPECT_TRUE(RequestRewrite(deck));
    }
    char name[260] = {};
    const int count = VornUsbEnumerateDevices();
    EXPECT_NE(VornUsbGetDeviceName(count - 1, name), 0);
    EXPECT_NE(VornUsbOpen(name, &handle), 0);
  }
  // One block, followed by the deck's pause.
  int Send(Block block) { return SendPaced(deck, handle, std::move(block)); }
  // Blocks 0..1023, paced, letting `change` alter each on the way out.
  void SendAll(const std::function<void(int, Block&)>& change = {}) { SendImagePaced(deck, handle, change); }
  Block Status() {
    Block s(4, 0xEE);
    std::uint32_t got = 99;
    EXPECT_NE(VornUsbControlRecive(handle, 1, s.data(), 4, &got), 0);
    s.resize(got);
    return s;
  }
  // Reads the reply as the program does; false when the library refuses.
  bool Reply(std::uint32_t* got = nullptr) {
    unsigned char reply[1024];
    std::uint32_t n = 99;
    const bool ok = VornUsbControlRecive(handle, 255, reply, 512, &n) != 0;
    if (got) *got = n;
    return ok;
  }
  std::string Faults() { return FaultText(deck); }
  Kinds FaultKinds() { return deck.Library().FaultKinds(); }
  EmulatedDeck deck;
  LibraryDeckBinding binding;
  std::uint32_t handle = 0;
};
}  // namespace

TEST(LibrarySideTransfer, TakesAFaithfulImageAndOffersItsReply) {
  // That it holds the image byte for byte, with no fault and 1,023 pauses, is checked where the
  // real sender sends it (ImageSenderTransfer).
  OpenDeck d(Quick());
  d.SendAll();
  EXPECT_EQ(d.Status(), (Block{0x01, 0x80, 0x04, 0x01}));  // 260 bytes pending
  std::uint32_t got = 0;
  EXPECT_TRUE(d.Reply(&got));
  EXPECT_EQ(got, 260u);
  EXPECT_EQ(d.Status()[0], 0x00) << "the reply is gone once read";
  EXPECT_NE(VornUsbClose(d.handle), 0);
  const std::string report = d.deck.Report();
  EXPECT_TRUE(Holds(report, R"("verdict":"complete, byte-identical","complete":true,"identical":true,)"
                            R"("checksumRight":true,"recordRight":true,"taken":true)"));
  EXPECT_TRUE(Holds(report, R"("handlesLeftOpen":0)"));
  EXPECT_TRUE(Holds(report, "block 0 arrived; the rewrite request came before it: yes"));
  EXPECT_EQ(d.Faults(), "");
}

TEST(LibrarySideTransfer, OffersTheReplyOnlyAfterTheScenarioDelayAndNeverWhenItIsMinusOne) {
  for (int delay : {60000, -1}) {
    SCOPED_TRACE(delay);
    OpenDeck d(Quick(delay));
    d.SendAll();
    EXPECT_EQ(d.Status(), (Block{0x00, 0x80, 0x00, 0x00}));
    EXPECT_FALSE(d.Reply());
    EXPECT_EQ(d.FaultKinds(), Kinds{"reply-not-pending"});
  }
}

TEST(LibrarySideTransfer, StatusScenariosShapeTheStatusAndTheReply) {
  OpenDeck shortStatus(Quick(0, [](Scenario& s) { s.shortStatus = true; }));
  shortStatus.SendAll();
  EXPECT_EQ(shortStatus.Status(), (Block{0x01, 0x80, 0x04}));

  OpenDeck zero(Quick(0, [](Scenario& s) { s.zeroPendingLength = true; }));
  zero.SendAll();
  EXPECT_EQ(zero.Status(), (Block{0x01, 0x80, 0x00, 0x00}));

  OpenDeck empty(Quick(0, [](Scenario& s) { s.emptyReply = true; }));
  empty.SendAll();
  std::uint32_t got = 99;
  EXPECT_TRUE(empty.Reply(&got));
  EXPECT_EQ(got, 0u);
}

TEST(LibrarySideChecks, ABlockOutOfOrderIsReportedWithTheOffsetsInHex) {
  OpenDeck d(Quick());
  d.SendAll([](int i, Block& b) {
    if (i == 5) b = BlockAt(6 * 384);
    if (i == 6) b = BlockAt(5 * 384);
  });
  EXPECT_TRUE(Holds(
      d.Faults(), "block 5: offset expected 00 00 07 80 (1920), arrived 00 00 09 00 (2304): blocks skipped"));
  EXPECT_TRUE(
      Holds(d.Faults(),
            "block 6: offset expected 00 00 09 00 (2304), arrived 00 00 07 80 (1920): a block out of order"));
  EXPECT_FALSE(d.deck.Library().ImageComplete());
  EXPECT_EQ(d.Status()[0], 0x00) << "a broken transfer is not taken";
}

TEST(LibrarySideChecks, ARepeatedBlockLeavesOneMissing) {
  OpenDeck d(Quick());
  for (int i = 0; i < 1024; ++i) d.Send(BlockAt((i <= 3 ? i : i - 1) * 384u));
  EXPECT_TRUE(
      Holds(d.Faults(),
            "block 4: offset expected 00 00 06 00 (1536), arrived 00 00 04 80 (1152): a block repeated"));
  EXPECT_TRUE(Holds(d.deck.Report(), "incomplete, 1023 of 1024 blocks in; missing 1023"));
}

TEST(LibrarySideChecks, AWrongHeaderByteIsReportedAsItArrived) {
  OpenDeck d(Quick());
  d.SendAll([](int i, Block& b) {
    if (i == 2) b[2] = 0x03;
  });
  EXPECT_TRUE(Holds(d.Faults(),
                    "block 2: header expected 01 00 02 01 80 .. 00 06 00 00, arrived 01 00 03 01 80 00 00 03 "
                    "00 00 06 00 00"));
  EXPECT_TRUE(Holds(d.deck.Report(), "all blocks in, 1 of them faulty"));
}

TEST(LibrarySideChecks, ChangedImageBytesAreFoundAndTheImageIsNotTaken) {
  OpenDeck d(Quick());
  d.SendAll([](int i, Block& b) {
    if (i == 100) b[13 + 7] ^= 0xFF;
  });
  EXPECT_EQ(d.Faults(), "");
  EXPECT_TRUE(d.deck.Library().ImageComplete());
  EXPECT_FALSE(d.deck.Library().ImageIdentical());
  char expected[96];
  std::snprintf(expected, sizeof expected,
                "complete, differs in 1 bytes, first at offset 38407 (expected %02X, arrived %02X)",
                FirmwareImage[38407], FirmwareImage[38407] ^ 0xFF);
  EXPECT_TRUE(Holds(d.deck.Report(), expected));
  EXPECT_TRUE(Holds(d.deck.Report(), "checksum wrong"));
  EXPECT_EQ(d.Status()[0], 0x00);
}

TEST(LibrarySideChecks, MalformedCallsAreRefusedAndRecorded) {
  OpenDeck d(Quick());
  Block b = BlockAt(0);
  EXPECT_EQ(VornUsbControlSend(d.handle, 255, b.data(), 396), 0);
  EXPECT_EQ(VornUsbControlSend(d.handle, 254, b.data(), 397), 0);
  EXPECT_EQ(VornUsbControlSend(d.handle + 1, 255, b.data(), 397), 0);
  EXPECT_EQ(d.deck.Library().BlocksReceived(), 0);
  EXPECT_EQ(d.deck.Library().Faults().size(), 3u) << d.Faults();
  EXPECT_NE(VornUsbClose(d.handle), 0);
  EXPECT_EQ(VornUsbClose(d.handle), 0);
  EXPECT_TRUE(Holds(d.Faults(), "which is not open"));
  EXPECT_EQ(d.deck.Library().CloseCalls(), 2);
}

TEST(LibrarySideChecks, NothingIsTakenAfterTheRefusedBlock) {
  OpenDeck d(Quick(0, [](Scenario& s) { s.refuseBlock = 3; }));
  for (int i = 0; i < 3; ++i) EXPECT_NE(d.Send(BlockAt(i * 384u)), 0);
  EXPECT_EQ(d.Send(BlockAt(3 * 384u)), 0);
  EXPECT_EQ(d.Faults(), "");
  EXPECT_EQ(d.Send(BlockAt(3 * 384u)), 0);
  EXPECT_TRUE(Holds(d.Faults(), "block 3 sent after the refused one"));
  EXPECT_EQ(d.deck.Library().BlocksReceived(), 3);
}

// Each way a caller can misuse the library path is recorded by its kind, and nothing else is.
TEST(LibrarySideChecks, EachMisuseIsRecordedByItsKind) {
  enum Call { Image, Block0, Block0Unpaced, Block1Unpaced, Block1At385, Status, Status3, Reply, Read254 };
  struct Case {
    const char* what;
    const char* scenario;  // its reply offered at once
    bool rewriteRequested;
    std::vector<Call> calls;
    Kinds kinds;
  };
  const Case cases[] = {
      {"block before the request", "success", false, {Block0}, {"block-before-rewrite"}},
      {"no pause after a block", "success", true, {Block0Unpaced, Block1Unpaced}, {"block-too-soon"}},
      {"a 1,025th block", "success", true, {Image, Block0}, {"block-after-image"}},
      {"offset 385", "success", true, {Block0, Block1At385}, {"block-misaligned"}},
      {"reply, no status", "success", true, {Image, Reply}, {"reply-not-pending"}},
      {"reply, byte 0 was 2", "pending-flag-2", true, {Image, Status, Reply}, {"reply-not-pending"}},
      {"reply, length 0", "zero-pending-length", true, {Image, Status, Reply}, {"reply-not-pending"}},
      {"2 replies, 1 status", "success", true, {Image, Status, Reply, Reply}, {"reply-not-pending"}},
      {"reply, 3 bytes", "short-status", true, {Image, Status, Reply}, {"reply-after-short-status"}},
      {"reply, 3 asked",
       "success",
       true,
       {Image, Status3, Reply},
       {"status-length", "reply-after-short-status"}},
      {"code 254", "success", true, {Image, Status, Read254}, {"read-code"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scenario scenario = *FindScenario(c.scenario);
    scenario.acceptAfterMs = 0;
    OpenDeck d(scenario, c.rewriteRequested);
    unsigned char buffer[1024];
    std::uint32_t got = 0;
    Block misaligned = BlockAt(384);
    misaligned[8] = 0x81;  // offset 385
    const std::map<Call, std::function<void()>> make = {
        {Image, [&] { d.SendAll(); }},
        {Block0, [&] { d.Send(BlockAt(0)); }},
        {Block0Unpaced, [&] { VornUsbControlSend(d.handle, 255, BlockAt(0).data(), 397); }},
        {Block1Unpaced, [&] { VornUsbControlSend(d.handle, 255, BlockAt(384).data(), 397); }},
        {Block1At385, [&] { d.Send(misaligned); }},
        {Status, [&] { d.Status(); }},
        {Status3, [&] { VornUsbControlRecive(d.handle, 1, buffer, 3, &got); }},
        {Reply, [&] { d.Reply(); }},
        {Read254, [&] { VornUsbControlRecive(d.handle, 254, buffer, 512, &got); }},
    };
    for (Call call : c.calls) make.at(call)();
    EXPECT_EQ(d.FaultKinds(), c.kinds) << d.Faults();
  }
}

TEST(LibrarySideDecks, NamesEveryDeckAndOpensOnlyThoseNames) {
  EmulatedDeck deck(Quick(0, [](Scenario& s) { s.libraryDecks = 2; }));
  LibraryDeckBinding binding(deck);
  ASSERT_EQ(VornUsbEnumerateDevices(), 2);
  char first[260] = {}, second[260] = {}, none[260] = {};
  ASSERT_NE(VornUsbGetDeviceName(0, first), 0);
  ASSERT_NE(VornUsbGetDeviceName(1, second), 0);
  EXPECT_STRNE(first, second);
  EXPECT_EQ(VornUsbGetDeviceName(2, none), 0);
  std::uint32_t handle = 0;
  char stranger[260] = "SOME-OTHER-DEVICE";
  EXPECT_EQ(VornUsbOpen(stranger, &handle), 0);
  ASSERT_NE(VornUsbOpen(first, &handle), 0);
  EXPECT_NE(handle, 0u);
  EXPECT_EQ(deck.Library().OpenedDeck(), 0);
  Block b = BlockAt(0);
  EXPECT_EQ(VornUsbControlSend(handle, 255, b.data(), 397), 0) << "the image went to the other deck";
  for (const char* fault :
       {"name of deck 2 asked, 2 enumerated", "which no deck is called", "not to this deck"})
    EXPECT_TRUE(Holds(FaultText(deck), fault));
  EXPECT_TRUE(Holds(deck.Report(), R"("handlesLeftOpen":1)"));
  VornUsbClose(handle);
}

TEST(LibrarySideEvents, RecordsTheLibraryPathInOrder) {
  OpenDeck d(Quick());
  d.SendAll();
  d.Status();
  VornUsbClose(d.handle);
  std::vector<std::string> library;
  for (const DeckEvent& e : d.deck.events.All())
    if (e.path == "library") library.push_back(e.text);
  ASSERT_EQ(library.size(), 7u);
  EXPECT_EQ(library[0], "enumerate: 1 deck(s)");
  EXPECT_EQ(library[1], "name of deck 0: TAVRO-HVX-Z8KQ-0");
  EXPECT_EQ(library[2].rfind("open TAVRO-HVX-Z8KQ-0: handle ", 0), 0u) << library[2];
  EXPECT_EQ(library[3].rfind("block 0 arrived", 0), 0u) << library[3];
  EXPECT_EQ(library[4],
            "block 1023 arrived: image complete; checksum right, version record right: taken; reply in 0 ms");
  EXPECT_EQ(library[5].rfind("status read 1: reply pending", 0), 0u) << library[5];
  EXPECT_EQ(library[6].rfind("close handle ", 0), 0u) << library[6];
}

// Both paths of one deck: the rewrite request on the driver path, the image on the library path,
// and the completion report that the reply read sets going.
TEST(LibrarySideEvents, ShowWhetherTheRewriteRequestCameBeforeTheFirstBlockAndStartTheCompletion) {
  OpenDeck d(Quick(0, [](Scenario& s) { s.completeAfterMs = 10; }), false);
  DriverSide& driver = d.deck.Driver();
  std::string path;
  ASSERT_TRUE(driver.InterfacePath(0, path));
  const DriverHandle pipe0 = driver.Open((path + "\\if000pipe000").c_str());
  const DriverHandle pipe1 = driver.Open((path + "\\if000pipe001").c_str());
  std::uint32_t n = 0;
  const unsigned char powerOn[] = {0x00, 0x60, 0x00};
  const unsigned char rewrite[] = {0x05, 0x00, 0x60, 0xB0, 0xC0, 0xA6};
  ASSERT_TRUE(driver.Write(pipe0, powerOn, sizeof powerOn, n));
  std::vector<unsigned char> packet(64);
  ASSERT_TRUE(driver.Read(pipe1, packet.data(), 64, n));  // the power-on answer
  ASSERT_TRUE(driver.Write(pipe0, rewrite, sizeof rewrite, n));
  d.SendAll();
  d.Status();
  ASSERT_TRUE(d.Reply());
  ASSERT_TRUE(driver.Read(pipe1, packet.data(), 64, n));
  packet.resize(n);
  EXPECT_EQ(packet, (std::vector<unsigned char>{0x04, 0x00, 0x12, 0xB8, 0xEF})) << "no completion report";

  std::vector<std::string> order;
  for (const DeckEvent& e : d.deck.events.All())
    if (e.kind == "rewrite-requested" || e.text.rfind("block 0 arrived", 0) == 0 || e.kind == "reply-read")
      order.push_back(e.path + ": " + e.text);
  EXPECT_EQ(order,
            (std::vector<std::string>{"driver: rewrite requested",
                                      "library: block 0 arrived; the rewrite request came before it: yes",
                                      "library: reply read: 260 bytes delivered"}));
  driver.Close(pipe0);
  driver.Close(pipe1);
}
