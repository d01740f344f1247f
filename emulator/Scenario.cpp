#include "emulator/Scenario.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <type_traits>

#include "link/Protocol.h"

namespace {
// Decimal, or hex after 0x; "maker" only where a vendor ID is read.
bool Number(const std::string& text, int& value, bool vendor = false) {
  if (vendor && text == "maker") return value = kMakerVendorId, true;
  const bool hex = text.rfind("0x", 0) == 0;
  const char* digits = text.c_str() + (hex ? 2 : 0);
  char* end = nullptr;
  value = static_cast<int>(std::strtol(digits, &end, hex ? 16 : 10));
  return *digits && !*end;
}

bool Flag(const std::string& text, bool& value) {
  value = text == "1";
  return text == "1" || text == "0";
}

// "maker:0x99:1*129,0x1234:142:0"
bool Members(const std::string& text, std::vector<Scenario::Member>& members) {
  members.clear();
  std::istringstream list(text);
  for (std::string one; std::getline(list, one, ',');) {
    const std::size_t star = one.find('*');
    int count = 1;
    if (star != std::string::npos && (!Number(one.substr(star + 1), count) || count < 1)) return false;
    std::istringstream fields(one.substr(0, star));
    std::string vendor, product, ready;
    Scenario::Member m;
    if (!std::getline(fields, vendor, ':') || !std::getline(fields, product, ':') ||
        !std::getline(fields, ready) || !Number(vendor, m.vendorId, true) || !Number(product, m.productId) ||
        !Flag(ready, m.ready))
      return false;
    members.insert(members.end(), static_cast<std::size_t>(count), m);
  }
  return true;
}

using Field = std::function<bool(Scenario&, const std::string&)>;

template <typename T>
Field Of(T Scenario::*field) {
  return [field](Scenario& s, const std::string& text) {
    if constexpr (std::is_same_v<T, bool>) {
      return Flag(text, s.*field);
    } else if constexpr (std::is_same_v<T, int>) {
      return Number(text, s.*field);
    } else if constexpr (std::is_same_v<T, char>) {
      s.*field = text.empty() ? 0 : text[0];
      return text.size() == 1;
    } else if constexpr (std::is_same_v<T, std::string>) {
      s.*field = text;
      return true;
    } else {
      return Members(text, s.*field);
    }
  };
}

const std::map<std::string, Field>& Fields() {
  static const std::map<std::string, Field> fields = {
      {"productId", Of(&Scenario::productId)},
      {"vendorId", [](Scenario& s, const std::string& text) { return Number(text, s.vendorId, true); }},
      {"ready", Of(&Scenario::ready)},
      {"pipe0Opens", Of(&Scenario::pipe0Opens)},
      {"pipe1Opens", Of(&Scenario::pipe1Opens)},
      {"packetSize0", Of(&Scenario::packetSize0)},
      {"packetSize1", Of(&Scenario::packetSize1)},
      {"model", Of(&Scenario::model)},
      {"answersModel", Of(&Scenario::answersModel)},
      {"versionMajor", Of(&Scenario::versionMajor)},
      {"versionMinor", Of(&Scenario::versionMinor)},
      {"versionVariant", Of(&Scenario::versionVariant)},
      {"answersVersion", Of(&Scenario::answersVersion)},
      {"discState", Of(&Scenario::discState)},
      {"modeState", Of(&Scenario::modeState)},
      {"replyDelayMs", Of(&Scenario::replyDelayMs)},
      {"garbage", Of(&Scenario::garbage)},
      {"unplugAfterRequestMs", Of(&Scenario::unplugAfterRequestMs)},
      {"completeAfterMs", Of(&Scenario::completeAfterMs)},
      {"plugInAfterMs", Of(&Scenario::plugInAfterMs)},
      {"before", Of(&Scenario::before)},
      {"after", Of(&Scenario::after)},
      {"slowListingMs", Of(&Scenario::slowListingMs)},
      {"devicePathLength", Of(&Scenario::devicePathLength)},
      {"failedReads", Of(&Scenario::failedReads)},
      {"cancelIgnored", Of(&Scenario::cancelIgnored)},
      {"writesStall", Of(&Scenario::writesStall)},
      {"libraryDecks", Of(&Scenario::libraryDecks)},
      {"nameRefused", Of(&Scenario::nameRefused)},
      {"openRefused", Of(&Scenario::openRefused)},
      {"refuseBlock", Of(&Scenario::refuseBlock)},
      {"unplugAtBlock", Of(&Scenario::unplugAtBlock)},
      {"acceptAfterMs", Of(&Scenario::acceptAfterMs)},
      {"shortStatus", Of(&Scenario::shortStatus)},
      {"zeroPendingLength", Of(&Scenario::zeroPendingLength)},
      {"emptyReply", Of(&Scenario::emptyReply)},
      {"pendingFlag", Of(&Scenario::pendingFlag)},
  };
  return fields;
}
}  // namespace

bool ReadScenarios(const std::string& table, std::vector<Scenario>& scenarios, std::string& error) {
  scenarios.clear();
  // Each row with the number of its first line; a line that starts with a space goes on with it.
  std::vector<std::pair<int, std::string>> rows;
  std::istringstream lines(table);
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    if (line[0] != ' ') {
      rows.push_back({number, line});
    } else if (!rows.empty()) {
      rows.back().second += line;
    }
  }
  std::set<std::string> names;
  for (const auto& [at, row] : rows) {
    const auto fail = [&error, line = at](const std::string& why) {
      error = "line " + std::to_string(line) + ": " + why;
      return false;
    };
    std::istringstream words(row);
    Scenario s = scenarios.empty() ? Scenario{} : scenarios.front();
    words >> s.name;
    if (!names.insert(s.name).second) return fail("a second scenario named " + s.name);
    std::set<std::string> given;
    for (std::string word; words >> word;) {
      const std::size_t equals = word.find('=');
      const std::string key = word.substr(0, equals);
      const auto field = Fields().find(key);
      if (field == Fields().end()) return fail(s.name + ": no field named " + key);
      if (equals == std::string::npos || !field->second(s, word.substr(equals + 1)))
        return fail(s.name + ": a bad value in " + word);
      given.insert(key);
    }
    if (scenarios.empty() && given.size() != Fields().size())
      return fail(s.name + ": every field must be given");
    scenarios.push_back(s);
  }
  return true;
}

const std::vector<Scenario>& Scenarios() {
  static const std::vector<Scenario> all = [] {
    std::vector<Scenario> read;
    std::string error;
    if (!ReadScenarios(kScenarioTable, read, error) || read.empty() || read.front().name != "success") {
      std::fprintf(stderr, "emulated deck: emulator/scenarios.txt, %s\n",
                   error.empty() ? "no success first" : error.c_str());
      std::exit(2);
    }
    return read;
  }();
  return all;
}

const Scenario* FindScenario(const std::string& name) {
  for (const Scenario& s : Scenarios())
    if (s.name == name) return &s;
  return nullptr;
}
