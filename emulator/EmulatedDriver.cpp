#include "emulator/EmulatedDriver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "emulator/EmulatedDeck.h"
#include "emulator/Hex.h"
#include "link/Protocol.h"

namespace {
using Bytes = std::vector<unsigned char>;

std::string Path(int vendor, int product, const std::string& serial) {
  char head[64];
  std::snprintf(head, sizeof head, "\\\\?\\usb#vid_%04x&pid_%04x#", vendor, product);
  return head + serial + "#" + DriverClassText();
}

std::string HandleText(DriverHandle h) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(h));
  return text;
}

Bytes DeviceDescriptor(int vendor, int product) {
  Bytes descriptor(DRIVER_DEVICE_DESCRIPTOR_LENGTH);
  DriverDeviceDescriptor(descriptor.data(), static_cast<unsigned>(vendor), static_cast<unsigned>(product));
  return descriptor;
}

Bytes ConfigDescriptor(int packetSize0, int packetSize1) {
  Bytes block(DRIVER_DECK_CONFIG_LENGTH);
  DriverConfigDescriptor(block.data(), static_cast<unsigned>(packetSize0),
                         static_cast<unsigned>(packetSize1));
  return block;
}
}  // namespace

EmulatedDriver::EmulatedDriver(EmulatedDeck& deck)
    : deck(deck), commands(deck.scenario), failedReadsLeft(deck.scenario.failedReads) {
  present = PresentAt(0);
}

EmulatedDriver::~EmulatedDriver() = default;

double EmulatedDriver::Now() const {
  return deck.events.Now();
}

bool EmulatedDriver::PresentAt(double now) const {
  if (unplugAt >= 0 && now >= unplugAt) return false;
  if (pluggedByHand) return true;
  return deck.scenario.productId != 0 && now >= deck.scenario.plugInAfterMs;
}

void EmulatedDriver::Refresh() {
  const double now = Now();
  const bool there = PresentAt(now);
  if (present && !there) {
    ++generation;
    pipe1.clear();
    commands.Unplugged(now);
    Note("unplugged", "the deck was unplugged");
    changed.notify_all();
  } else if (!present && there) {
    Note("plugged", "the deck was plugged in");
  }
  present = there;
}

bool EmulatedDriver::Alive(const Handle& h) const {
  if (!h.open) return false;
  if (h.kind == Kind::Other) return true;
  return present && h.generation == generation;
}

EmulatedDriver::Handle* EmulatedDriver::Find(DriverHandle handle) {
  const auto it = handles.find(handle);
  return it == handles.end() ? nullptr : &it->second;
}

void EmulatedDriver::Note(const char* kind, const std::string& text) {
  deck.events.Add("driver", kind, text);
}

std::string EmulatedDriver::DevicePath() const {
  const Scenario& s = deck.scenario;
  std::string serial = "hvx0001";
  const std::size_t natural = Path(s.vendorId, s.productId & 0xFFFF, serial).size();
  if (s.devicePathLength > 0 && static_cast<std::size_t>(s.devicePathLength) > natural)
    serial.append(static_cast<std::size_t>(s.devicePathLength) - natural, '0');
  return Path(s.vendorId, s.productId & 0xFFFF, serial);
}

std::size_t EmulatedDriver::Others() const {
  return deck.scenario.before.size() + deck.scenario.after.size();
}

const Scenario::Member& EmulatedDriver::Other(std::size_t i) const {
  const Scenario& s = deck.scenario;
  return i < s.before.size() ? s.before[i] : s.after[i - s.before.size()];
}

std::string EmulatedDriver::OtherPath(std::size_t i) const {
  char serial[32];
  std::snprintf(serial, sizeof serial, "other%04zu", i + 1);
  return Path(Other(i).vendorId, Other(i).productId, serial);
}

bool EmulatedDriver::InterfacePath(std::uint32_t index, std::string& path) {
  // Some drivers build their whole list for every look at one member.
  if (deck.scenario.slowListingMs > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(deck.scenario.slowListingMs));
  std::lock_guard<std::mutex> hold(lock);
  Refresh();
  const std::size_t before = deck.scenario.before.size(), others = Others();
  if (index < before) {
    path = OtherPath(index);
  } else if (present && index == before) {
    path = DevicePath();
  } else if (index - (present ? 1 : 0) < others) {
    path = OtherPath(index - (present ? 1 : 0));
  } else {
    return false;
  }
  return true;
}

DriverHandle EmulatedDriver::Open(const char* path) {
  std::lock_guard<std::mutex> hold(lock);
  Refresh();
  const std::string wanted = path ? path : "";
  const std::string device = DevicePath();
  char pipePath[2][16];
  for (unsigned char pipe : {kCommandPipe, kReplyPipe})
    std::snprintf(pipePath[pipe], sizeof pipePath[pipe], DRIVER_PIPE_SUFFIX, kDeckInterface, pipe);
  Kind kind;
  bool allowed = present;
  int other = -1;
  for (std::size_t i = 0; i < Others() && other < 0; ++i)
    if (wanted == OtherPath(i)) other = static_cast<int>(i);
  if (other >= 0) {
    kind = Kind::Other;
    allowed = true;
  } else if (wanted == device) {
    kind = Kind::Device;
  } else if (wanted == device + pipePath[kCommandPipe]) {
    kind = Kind::Pipe0;
    allowed = allowed && deck.scenario.pipe0Opens;
  } else if (wanted == device + pipePath[kReplyPipe]) {
    kind = Kind::Pipe1;
    allowed = allowed && deck.scenario.pipe1Opens;
  } else {
    ++counts.refusedOpens;
    Note("open-refused", "open refused, no such path: " + wanted);
    return kInvalidHandle;
  }
  static const char* const kNames[] = {"device", "pipe 0", "pipe 1", "other device"};
  const char* name = kNames[static_cast<int>(kind)];
  if (!allowed) {
    ++counts.refusedOpens;
    Note("open-refused", std::string("open of ") + name + " refused");
    return kInvalidHandle;
  }
  const DriverHandle h = nextHandle;
  nextHandle += 4;
  handles[h] = Handle{kind, generation, true, {}, false, other};
  ++counts.opened;
  Note("opened", std::string("opened ") + name + " as handle " + HandleText(h));
  return h;
}

// A call's turn on its handle, from Enter to the end of the call. A thread ended inside the call
// never comes to the end, so its call stays in flight on the handle.
class EmulatedDriver::InCall {
 public:
  InCall(EmulatedDriver& side, std::unique_lock<std::mutex>& hold, DriverHandle handle)
      : side(side), handle(handle) {
    side.Enter(hold, handle);
  }
  ~InCall() { side.Leave(handle); }
  InCall(const InCall&) = delete;
  InCall& operator=(const InCall&) = delete;

 private:
  EmulatedDriver& side;
  const DriverHandle handle;
};

void EmulatedDriver::Enter(std::unique_lock<std::mutex>& hold, DriverHandle handle) {
  Handle* h = Find(handle);
  if (!h || !h->open) return;  // refused at once, with no turn to wait for
  if (h->caller != std::thread::id()) {
    ++counts.callsWaited;
    Note("call-waits", "a call on handle " + HandleText(handle) + " waits for the one in flight on it");
    AwaitTurn(hold, handle, -1);
  }
  h->caller = std::this_thread::get_id();
  h->callerEnded = false;
}

bool EmulatedDriver::AwaitTurn(std::unique_lock<std::mutex>& hold, DriverHandle handle, double limitMs) {
  const Handle* h = Find(handle);
  const std::thread::id me = std::this_thread::get_id();
  const auto giveUp = std::chrono::steady_clock::now() +
                      std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                          std::chrono::duration<double, std::milli>(std::max(0.0, limitMs)));
  waitingForTurn[me] = Blocked{handle, false, false};
  changed.notify_all();
  while (h->caller != std::thread::id()) {
    if (waitingForTurn[me].ended) Vanish(hold, waitingForTurn);
    if (limitMs < 0) {
      changed.wait(hold);
    } else if (changed.wait_until(hold, giveUp) == std::cv_status::timeout &&
               h->caller != std::thread::id()) {
      waitingForTurn.erase(me);
      return false;
    }
  }
  waitingForTurn.erase(me);
  return true;
}

void EmulatedDriver::Leave(DriverHandle handle) {
  Handle* h = Find(handle);
  if (!h || h->caller != std::this_thread::get_id()) return;
  h->caller = std::thread::id();
  changed.notify_all();
}

bool EmulatedDriver::IoControl(DriverHandle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                               void* out, std::uint32_t outSize) {
  std::unique_lock<std::mutex> hold(lock);
  InCall turn(*this, hold, handle);
  Refresh();
  Handle* h = Find(handle);
  char codeText[16];
  std::snprintf(codeText, sizeof codeText, "0x%06X", code);
  if (!h || !Alive(*h)) {
    Note("control-refused", std::string("control ") + codeText + " on a dead or unknown handle " +
                                HandleText(handle) + " failed");
    return false;
  }
  // Each code is defined for its own object and buffers; the driver refuses anything else.
  const bool device = h->kind == Kind::Device || h->kind == Kind::Other;
  const bool noInput = !in && inSize == 0, noOutput = !out && outSize == 0;
  const auto refuse = [&](const char* why) {
    ++counts.controlsRefused;
    Note("control-refused",
         std::string("control ") + codeText + " on handle " + HandleText(handle) + " refused: " + why);
    return false;
  };
  switch (code) {
    case kDescriptorCode:
      if (!in || inSize != 4 || static_cast<const unsigned char*>(in)[1] != 0 ||
          static_cast<const unsigned char*>(in)[2] != 0 || static_cast<const unsigned char*>(in)[3] != 0)
        return refuse("its input is the descriptor type and three zeros");
      return Descriptor(*h, static_cast<const unsigned char*>(in)[0], out, outSize) ||
             refuse("no such descriptor in that size");
    case kReadyCode: {
      if (!noInput || !out || outSize != 4) return refuse("it takes no input and a 4-byte output");
      const bool ready =
          h->kind == Kind::Other ? Other(static_cast<std::size_t>(h->other)).ready : deck.scenario.ready;
      const unsigned char status[4] = {static_cast<unsigned char>(ready ? 1 : 0), 0, 0, 0};
      std::memcpy(out, status, sizeof status);
      return true;
    }
    case kDeviceControlCode:
      if (!device) return refuse("it is for the device, not a pipe");
      if (!noInput || !noOutput) return refuse("it takes no buffers");
      ++counts.deviceControls;
      Note("control", std::string("control ") + codeText + " on handle " + HandleText(handle));
      return true;
    case kPipeControlCode:
      if (device) return refuse("it is for a pipe, not the device");
      if (!noInput || !noOutput) return refuse("it takes no buffers");
      ++counts.pipeControls;
      Note("control", std::string("control ") + codeText + " on handle " + HandleText(handle));
      return true;
    default:
      return refuse("no such code");
  }
}

bool EmulatedDriver::Descriptor(const Handle& h, unsigned char type, void* out, std::uint32_t outSize) {
  const Scenario& s = deck.scenario;
  Bytes descriptor;
  if (type == kDeviceDescriptorType && h.kind == Kind::Other) {
    const Scenario::Member& other = Other(static_cast<std::size_t>(h.other));
    descriptor = DeviceDescriptor(other.vendorId, other.productId);
  } else if (type == kDeviceDescriptorType) {
    descriptor = DeviceDescriptor(s.vendorId, s.productId);
  } else if (type == kConfigDescriptorType) {
    descriptor = ConfigDescriptor(s.packetSize0, s.packetSize1);
  } else {
    return false;
  }
  // The device descriptor comes whole; the configuration in as many bytes as the caller asks for.
  if (!out || outSize == 0 || (type == kDeviceDescriptorType && outSize != descriptor.size())) return false;
  const std::size_t n = std::min<std::size_t>(outSize, descriptor.size());
  std::memcpy(out, descriptor.data(), n);
  return true;
}

bool EmulatedDriver::Read(DriverHandle handle, void* buffer, std::uint32_t size, std::uint32_t& got) {
  std::unique_lock<std::mutex> hold(lock);
  InCall turn(*this, hold, handle);
  got = 0;
  Refresh();
  Handle* h = Find(handle);
  if (!h || h->kind != Kind::Pipe1 || !Alive(*h) || size == 0 || !buffer) {
    ++counts.readsFailed;
    Note("read-failed", "read on " + HandleText(handle) + ", which is not a live pipe 1, failed");
    return false;
  }
  if (failedReadsLeft > 0) {
    --failedReadsLeft;
    ++counts.readsFailed;
    Note("read-failed", "read failed, as the scenario says");
    return false;
  }
  const std::thread::id me = std::this_thread::get_id();
  const int plugged = generation;
  blockedReaders[me] = Blocked{handle, false, false};
  changed.notify_all();
  for (;;) {
    Refresh();
    const Blocked now = blockedReaders[me];
    if (now.ended) Vanish(hold, blockedReaders);
    if (now.cancelled) {
      blockedReaders.erase(me);
      ++counts.readsCancelled;
      Note("read-cancelled", "read cancelled");
      return false;
    }
    // Only the deck going away ends a read; closing its handle does not.
    if (!present || generation != plugged) {
      blockedReaders.erase(me);
      ++counts.readsFailed;
      Note("read-failed", "read failed: the deck is gone");
      return false;
    }
    if (!pipe1.empty() && pipe1.front().due <= Now()) {
      const std::uint32_t n = TakePacket(static_cast<unsigned char*>(buffer), size);
      blockedReaders.erase(me);
      if (n == kOverrun) return false;
      got = n;
      ++counts.readsDone;
      return true;
    }
    WaitForChange(hold);
  }
}

void EmulatedDriver::WaitForChange(std::unique_lock<std::mutex>& hold) {
  const double now = Now();
  double wakeAt = -1;
  if (!pipe1.empty()) wakeAt = pipe1.front().due;
  if (unplugAt > now && (wakeAt < 0 || unplugAt < wakeAt)) wakeAt = unplugAt;
  if (wakeAt < 0) {
    changed.wait(hold);
  } else {
    changed.wait_for(hold, std::chrono::duration<double, std::milli>(wakeAt - now));
  }
}

void EmulatedDriver::Vanish(std::unique_lock<std::mutex>& hold, std::map<std::thread::id, Blocked>& blocked) {
  blocked.erase(std::this_thread::get_id());
  ++counts.threadsEnded;
  Note("thread-ended", "a thread blocked in the driver was ended");
  changed.notify_all();
  hold.unlock();
  // As after TerminateThread, the thread never runs its caller's code again. It waits on objects
  // that are never destroyed, not even at exit, so nothing it refers to can go away under it.
  static std::mutex* const never = new std::mutex;
  static std::condition_variable* const nothing = new std::condition_variable;
  std::unique_lock<std::mutex> forever(*never);
  for (;;) nothing->wait(forever);
}

std::uint32_t EmulatedDriver::TakePacket(unsigned char* buffer, std::uint32_t size) {
  const Bytes packet = std::move(pipe1.front().bytes);
  pipe1.pop_front();
  // A packet larger than the read's buffer overruns it: the read fails and the packet is lost.
  if (packet.size() > size) {
    ++counts.readsOverrun;
    Note("read-overrun", "pipe 1 read of " + std::to_string(size) + " bytes failed, the packet of " +
                             std::to_string(packet.size()) + " bytes is lost: " + Hex(packet));
    return kOverrun;
  }
  std::memcpy(buffer, packet.data(), packet.size());
  Note("read", "pipe 1 read: " + Hex(packet));
  return static_cast<std::uint32_t>(packet.size());
}

bool EmulatedDriver::Write(DriverHandle handle, const void* data, std::uint32_t size,
                           std::uint32_t& written) {
  std::unique_lock<std::mutex> hold(lock);
  InCall turn(*this, hold, handle);
  written = 0;
  Refresh();
  Handle* h = Find(handle);
  if (!h || h->kind != Kind::Pipe0 || !Alive(*h) || (size > 0 && !data)) {
    ++counts.ignoredFrames;
    Note("write-failed", "write on " + HandleText(handle) + ", which is not a live pipe 0, failed");
    return false;
  }
  if (failWrites) {
    ++counts.ignoredFrames;
    Note("write-failed", "write on pipe 0 failed, as the test asked");
    return false;
  }
  if (deck.scenario.writesStall) return Stall(hold, handle);
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  const double due = Carry(commands.Take(Bytes(bytes, bytes + size), Now()));
  written = size;
  if (holdWrites && due >= 0) {
    const auto limit = std::chrono::steady_clock::now() +
                       std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double, std::milli>(std::max(0.0, due - Now()) + 5000));
    if (changed.wait_until(hold, limit, [this] { return pipe1.empty() && !blockedReaders.empty(); }))
      Note("write-held", "write returns: its reply was read and the reader waits for the next");
    else
      Note("write-held", "write returns: its reply was not read in time");
  }
  return true;
}

bool EmulatedDriver::Stall(std::unique_lock<std::mutex>& hold, DriverHandle handle) {
  const std::thread::id me = std::this_thread::get_id();
  const int plugged = generation;
  blockedWriters[me] = Blocked{handle, false, false};
  Note("write-stalled", "write on pipe 0 blocks: the deck takes nothing");
  changed.notify_all();
  for (;;) {
    Refresh();
    const Blocked now = blockedWriters[me];
    if (now.ended) Vanish(hold, blockedWriters);
    if (now.cancelled || !present || generation != plugged) {
      blockedWriters.erase(me);
      ++counts.writesCancelled;
      Note("write-cancelled", now.cancelled ? "write cancelled" : "write failed: the deck is gone");
      return false;
    }
    WaitForChange(hold);
  }
}

bool EmulatedDriver::Close(DriverHandle handle) {
  std::unique_lock<std::mutex> hold(lock);
  Handle* h = Find(handle);
  const auto notOpen = [&] {
    ++counts.badCloses;
    Note("bad-close", "close of " + HandleText(handle) + ", which is not open");
    return false;
  };
  if (!h || !h->open) return notOpen();
  if (h->caller != std::thread::id()) {
    ++counts.closesWaited;
    Note("close-waits", "close of " + HandleText(handle) + " waits for the call in flight on it" +
                            (h->callerEnded ? ", whose thread was ended: it never returns" : ""));
    if (!AwaitTurn(hold, handle, closeWaitLimitMs)) {
      ++counts.closesHung;
      Note("close-hung", "close of " + HandleText(handle) + " given up, as the test asked");
      return false;
    }
    if (!h->open) return notOpen();
  }
  h->open = false;
  ++counts.closed;
  Note("closed", "closed handle " + HandleText(handle));
  changed.notify_all();
  return true;
}

void EmulatedDriver::CancelIo(std::thread& thread, DriverHandle handle) {
  std::lock_guard<std::mutex> hold(lock);
  Refresh();
  const auto reached = [&](const std::pair<const std::thread::id, Blocked>& b) {
    return b.first == thread.get_id() || (handle != kInvalidHandle && b.second.handle == handle);
  };
  bool any = false;
  for (auto* blocked : {&blockedReaders, &blockedWriters})
    for (auto& entry : *blocked) any = any || reached(entry);
  if (!any) return;
  if (deck.scenario.cancelIgnored && present) {
    ++counts.cancelsIgnored;
    return;
  }
  for (auto* blocked : {&blockedReaders, &blockedWriters})
    for (auto& entry : *blocked)
      if (reached(entry)) entry.second.cancelled = true;
  changed.notify_all();
}

void EmulatedDriver::EndThread(std::thread& thread) {
  std::lock_guard<std::mutex> hold(lock);
  for (auto* blocked : {&blockedReaders, &blockedWriters, &waitingForTurn}) {
    const auto it = blocked->find(thread.get_id());
    if (it == blocked->end()) continue;
    it->second.ended = true;
    // Marked here, not as it vanishes: the report may be taken before the thread next runs.
    Handle* h = Find(it->second.handle);
    if (h && h->caller == it->first) h->callerEnded = true;
    changed.notify_all();
    thread.detach();
    return;
  }
}

void EmulatedDriver::Queue(Bytes reply, double due) {
  Note("reply-queued", "reply queued: " + Hex(reply));
  replies.push_back(reply);
  // The deck sends a reply in packets of the IN endpoint's size; each read takes one packet.
  const std::size_t packet =
      deck.scenario.packetSize1 > 0 ? static_cast<std::size_t>(deck.scenario.packetSize1) : reply.size();
  auto at = std::find_if(pipe1.begin(), pipe1.end(), [due](const Packet& p) { return p.due > due; });
  for (std::size_t i = 0; i < reply.size(); i += packet) {
    const auto end = reply.begin() + static_cast<std::ptrdiff_t>(std::min(reply.size(), i + packet));
    at = pipe1.insert(at, Packet{due, Bytes(reply.begin() + static_cast<std::ptrdiff_t>(i), end)}) + 1;
  }
  changed.notify_all();
}

double EmulatedDriver::Carry(DeckCommands::Answer answer) {
  for (const auto& [kind, text] : answer.notes) Note(kind, text);
  counts.ignoredFrames += answer.ignored ? 1 : 0;
  counts.powerOns += answer.poweredOn ? 1 : 0;
  for (DeckCommands::Reply& r : answer.replies) Queue(std::move(r.bytes), r.due);
  if (answer.unplugAt >= 0) {
    unplugAt = answer.unplugAt;
    changed.notify_all();
  }
  return answer.queryDue;
}

void EmulatedDriver::ImageAccepted() {
  std::lock_guard<std::mutex> hold(lock);
  Refresh();
  Carry(commands.ImageAccepted(Now()));
}

bool EmulatedDriver::RewriteCompleted() const {
  std::lock_guard<std::mutex> hold(lock);
  return commands.RewriteCompleted(Now());
}

bool EmulatedDriver::RewriteRequested() const {
  std::lock_guard<std::mutex> hold(lock);
  return commands.RewriteRequested();
}

int EmulatedDriver::CountOpen(bool inEndedCallsOnly) const {
  return static_cast<int>(std::count_if(handles.begin(), handles.end(), [&](const auto& h) {
    return h.second.open && (h.second.callerEnded || !inEndedCallsOnly);
  }));
}

int EmulatedDriver::OpenHandles() const {
  std::lock_guard<std::mutex> hold(lock);
  return CountOpen(false);
}

int EmulatedDriver::HandlesInEndedCalls() const {
  std::lock_guard<std::mutex> hold(lock);
  return CountOpen(true);
}

void EmulatedDriver::LimitCloseWaits(double ms) {
  std::lock_guard<std::mutex> hold(lock);
  closeWaitLimitMs = ms;
}

std::vector<std::vector<unsigned char>> EmulatedDriver::FramesReceived() const {
  std::lock_guard<std::mutex> hold(lock);
  return commands.Frames();
}

std::vector<std::vector<unsigned char>> EmulatedDriver::RepliesQueued() const {
  std::lock_guard<std::mutex> hold(lock);
  return replies;
}

void EmulatedDriver::Unplug() {
  std::lock_guard<std::mutex> hold(lock);
  pluggedByHand = false;
  unplugAt = Now();
  Refresh();
  changed.notify_all();
}

void EmulatedDriver::Plug() {
  std::lock_guard<std::mutex> hold(lock);
  pluggedByHand = true;
  unplugAt = -1;
  Refresh();
  changed.notify_all();
}

bool EmulatedDriver::Plugged() const {
  std::lock_guard<std::mutex> hold(lock);
  return PresentAt(Now());
}

int EmulatedDriver::Cable() {
  std::lock_guard<std::mutex> hold(lock);
  Refresh();
  return present ? generation : -1;
}

void EmulatedDriver::Inject(const std::vector<unsigned char>& frame, int afterMs) {
  std::lock_guard<std::mutex> hold(lock);
  Refresh();
  if (present) Queue(frame, Now() + afterMs);
}

void EmulatedDriver::FailWrites(bool on) {
  std::lock_guard<std::mutex> hold(lock);
  failWrites = on;
}

void EmulatedDriver::HoldWritesUntilReplyRead(bool on) {
  std::lock_guard<std::mutex> hold(lock);
  holdWrites = on;
}

int EmulatedDriver::BlockedReads() const {
  std::lock_guard<std::mutex> hold(lock);
  return static_cast<int>(blockedReaders.size());
}

int EmulatedDriver::BlockedWrites() const {
  std::lock_guard<std::mutex> hold(lock);
  return static_cast<int>(blockedWriters.size());
}

EmulatedDriver::Counts EmulatedDriver::Counters() const {
  std::lock_guard<std::mutex> hold(lock);
  return counts;
}

Json EmulatedDriver::Report() const {
  std::lock_guard<std::mutex> hold(lock);
  // A handle that an ended thread is still inside cannot be closed without waiting for ever: it is
  // left to the end of the process, and counted apart.
  const int inEndedCalls = CountOpen(true);
  const int stillOpen = CountOpen(false) - inEndedCalls;
  Json frameList = Json::Array(), replyList = Json::Array();
  for (const Bytes& f : commands.Frames()) frameList.Push(Hex(f));
  for (const Bytes& r : replies) replyList.Push(Hex(r));
  return Json::Object()
      .Add("devicePath", DevicePath())
      .Add("pluggedIn", PresentAt(Now()))
      .Add("handles", Json::Object()
                          .Add("opened", counts.opened)
                          .Add("closed", counts.closed)
                          .Add("stillOpen", stillOpen)
                          .Add("inEndedCalls", inEndedCalls)
                          .Add("badCloses", counts.badCloses)
                          .Add("refusedOpens", counts.refusedOpens)
                          .Add("closesWaited", counts.closesWaited)
                          .Add("callsWaited", counts.callsWaited))
      .Add("powerOns", counts.powerOns)
      .Add("rewriteRequested", commands.RewriteRequested())
      .Add("frames", frameList)
      .Add("framesNotTaken", counts.ignoredFrames)
      .Add("replies", replyList)
      .Add("reads", Json::Object()
                        .Add("delivered", counts.readsDone)
                        .Add("failed", counts.readsFailed)
                        .Add("cancelled", counts.readsCancelled)
                        .Add("overrun", counts.readsOverrun))
      .Add("writesCancelled", counts.writesCancelled)
      .Add("cancelsIgnored", counts.cancelsIgnored)
      .Add("threadsEnded", counts.threadsEnded)
      .Add("controls", Json::Object()
                           .Add("start", counts.deviceControls)
                           .Add("pipeReset", counts.pipeControls)
                           .Add("refused", counts.controlsRefused));
}
