// The deck's command logic: what the deck does with each frame that reaches it on pipe 0, as its
// scenario says: the power-on, the four queries, the rewrite request, and the completion report
// once the library path has taken the image. It holds no threads and no clock: each call is given
// the deck's time and answers with the replies to queue on pipe 1, each with its due time. The
// emulated driver carries the frames to it and the replies away, under its own lock.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "emulator/Scenario.h"

class DeckCommands {
 public:
  explicit DeckCommands(const Scenario& scenario) : scenario(scenario) {}

  using Bytes = std::vector<unsigned char>;
  struct Reply {
    double due;  // on the deck's clock
    Bytes bytes;
  };
  struct Answer {
    std::vector<std::pair<const char*, std::string>> notes;  // events, kind and text, in order
    std::vector<Reply> replies;                              // in the order the deck sends them
    double queryDue = -1;    // when the reply to a query is due; -1: no query was answered
    double unplugAt = -1;    // the deck goes away then, as the scenario says; -1: not now
    bool ignored = false;    // the frame was not understood, or not taken
    bool poweredOn = false;  // the frame was the power-on request
  };

  // A frame off pipe 0 at `now`: its framing judged, then answered.
  Answer Take(const Bytes& frame, double now);
  // The library path has taken the image and its reply was read at `now`: the deck rewrites itself
  // and reports it done after the scenario's time, if a rewrite was asked for.
  Answer ImageAccepted(double now);
  // The deck was pulled at `now`: a rewrite under way is cut short.
  void Unplugged(double now);

  bool RewriteRequested() const { return rewriteRequested; }
  // The image was accepted after a rewrite request, and the rewrite had finished by `now` without
  // the deck being pulled meanwhile.
  bool RewriteCompleted(double now) const;
  const std::vector<Bytes>& Frames() const { return frames; }

 private:
  Answer Query(const Bytes& command, double now, Answer answer);
  Answer Ignore(std::string why, Answer answer);

  const Scenario& scenario;
  std::vector<Bytes> frames;
  bool poweredOn = false;
  bool rewriteRequested = false;
  double acceptedAtMs = -1;      // the image accepted and the rewrite begun; -1: not (yet)
  bool rewriteCutShort = false;  // unplugged while rewriting
};
