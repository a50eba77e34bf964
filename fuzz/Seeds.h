#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Cycle.h"

namespace rvt_fuzz {

// A session with one simulated site: its shape and the host calls, one a line: "+N" (the host
// asks for a request after N seconds), "timeout" (the reply time runs out) or "CID1 INFOHEX"
// (a reply); '#' starts a comment. Every reply is one the cycle accepts, and the change flags
// of a round ask for every request the round holds, so that its rounds can be played again.
struct Session {
  const char* name;
  SiteShape shape;
  const char* lines;
};
const std::vector<Session>& Sessions();

struct SessionCall {
  enum class Kind { Refresh, Timeout, Reply };
  Kind kind = Kind::Reply;
  unsigned seconds = 0;
  uint8_t cid1 = 0;
  std::vector<uint8_t> info;
};
// The calls of a session's lines; throws std::invalid_argument on a line that does not read.
std::vector<SessionCall> Calls(const Session& session);
void Play(Cycle& cycle, const SessionCall& call);

// One file of a fuzz target's corpus.
struct Seed {
  std::string target;
  std::string name;
  std::vector<uint8_t> bytes;
};
// The seed corpus: every part a unit took while the sessions ran and a few parts of the unit
// tests (each a whole, valid part of its operation), every reply of the sessions as a frame,
// and every session as an input of the cycle target. Throws std::runtime_error when a session
// breaks a rule of the cycle.
std::vector<Seed> Seeds();

}  // namespace rvt_fuzz
