// StayAwake: keeps the computer from sleeping while the deck rewrites itself, from the rewrite
// request until the wait stage ends, and lets it go on every way out.
#pragma once

class StayAwake {
 public:
  StayAwake() = default;
  ~StayAwake() { End(); }
  StayAwake(const StayAwake&) = delete;
  StayAwake& operator=(const StayAwake&) = delete;

  // Asks the system to stay awake; harmless when already held.
  void Begin();
  // Releases the request; harmless when none is held.
  void End();
  bool Held() const { return held; }

 private:
  bool held = false;
};
