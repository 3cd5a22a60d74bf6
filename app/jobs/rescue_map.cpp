#include "app/jobs/rescue_map.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace kestrel {

namespace {

bool IsAreaStatus(char c) {
  return c == kAreaNonTried || c == kAreaNonTrimmed || c == kAreaNonScraped || c == kAreaBad ||
         c == kAreaFinished;
}

// ddrescue's run states; ours are a subset, but a map made by ddrescue may hold any.
bool IsRunStatus(char c) { return IsAreaStatus(c) || c == 'F' || c == 'G'; }

bool ParseNumber(const std::string& word, uint64_t& out) {
  if (word.empty() || word[0] == '-' || word[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtoull(word.c_str(), &end, 0);
  return errno == 0 && end && *end == '\0';
}

}  // namespace

RescueMap::RescueMap(uint64_t size) {
  if (size > 0) areas_.push_back({0, size, kAreaNonTried});
}

bool RescueMap::Parse(std::string_view text, RescueMap& out, std::string& why) {
  out = RescueMap();
  std::istringstream lines{std::string(text)};
  std::string line;
  bool haveStatus = false;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    std::istringstream fields(line);
    std::string a, b, c, extra;
    fields >> a >> b >> c >> extra;
    auto bad = [&](const std::string& what) {
      why = "line " + std::to_string(number) + ": " + what;
      return false;
    };
    if (!haveStatus) {
      uint64_t pos = 0;
      if (!ParseNumber(a, pos) || b.size() != 1 || !IsRunStatus(b[0])) return bad("not a status line");
      out.currentPos = pos;
      out.currentStatus = b[0];
      out.currentPass = c.empty() ? 1 : std::atoi(c.c_str());
      haveStatus = true;
      continue;
    }
    MapArea area;
    if (!ParseNumber(a, area.pos) || !ParseNumber(b, area.size) || c.size() != 1 || !IsAreaStatus(c[0]) ||
        !extra.empty()) {
      return bad("not a \"pos size status\" line");
    }
    area.status = c[0];
    uint64_t expected = out.areas_.empty() ? 0 : out.areas_.back().end();
    if (area.pos != expected) return bad("the area does not begin where the one before it ends");
    if (area.size == 0 || area.size > UINT64_MAX - area.pos) return bad("bad area size");
    if (!out.areas_.empty() && out.areas_.back().status == area.status) {
      out.areas_.back().size += area.size;
    } else {
      out.areas_.push_back(area);
    }
  }
  if (!haveStatus) {
    why = "no status line";
    return false;
  }
  return true;
}

std::string RescueMap::Format(std::string_view createdBy) const {
  std::string text = "# Mapfile. Created by " + std::string(createdBy) + "\n";
  char line[96];
  text += "# current_pos  current_status  current_pass\n";
  std::snprintf(line, sizeof line, "0x%08" PRIX64 "     %c               %d\n", currentPos, currentStatus, currentPass);
  text += line;
  text += "#      pos        size  status\n";
  for (const MapArea& area : areas_) {
    std::snprintf(line, sizeof line, "0x%08" PRIX64 "  0x%08" PRIX64 "  %c\n", area.pos, area.size, area.status);
    text += line;
  }
  return text;
}

void RescueMap::Mark(uint64_t pos, uint64_t size, char status) {
  if (size == 0 || areas_.empty()) return;
  uint64_t end = std::min(pos + size, this->size());
  if (pos >= end) return;
  // First area ending after pos.
  auto first = std::upper_bound(areas_.begin(), areas_.end(), pos,
                                [](uint64_t p, const MapArea& a) { return p < a.end(); });
  auto last = first;
  while (last != areas_.end() && last->pos < end) ++last;
  // [first, last) overlap the range; keep their parts outside it.
  std::vector<MapArea> replacement;
  if (first->pos < pos) replacement.push_back({first->pos, pos - first->pos, first->status});
  replacement.push_back({pos, end - pos, status});
  MapArea tail = *(last - 1);
  if (tail.end() > end) replacement.push_back({end, tail.end() - end, tail.status});
  size_t index = size_t(first - areas_.begin());
  areas_.erase(first, last);
  areas_.insert(areas_.begin() + index, replacement.begin(), replacement.end());
  // Merge equal neighbours around the change.
  size_t from = index > 0 ? index - 1 : 0;
  size_t to = std::min(areas_.size(), index + replacement.size() + 1);
  for (size_t i = from; i + 1 < to;) {
    if (areas_[i].status == areas_[i + 1].status) {
      areas_[i].size += areas_[i + 1].size;
      areas_.erase(areas_.begin() + i + 1);
      --to;
    } else {
      ++i;
    }
  }
}

bool RescueMap::NextArea(uint64_t pos, std::string_view statuses, MapArea& out) const {
  auto it = std::upper_bound(areas_.begin(), areas_.end(), pos,
                             [](uint64_t p, const MapArea& a) { return p < a.end(); });
  for (; it != areas_.end(); ++it) {
    if (statuses.find(it->status) == std::string_view::npos) continue;
    out = *it;
    if (out.pos < pos) {
      out.size -= pos - out.pos;
      out.pos = pos;
    }
    return true;
  }
  return false;
}

uint64_t RescueMap::Bytes(char status) const {
  uint64_t total = 0;
  for (const MapArea& area : areas_) {
    if (area.status == status) total += area.size;
  }
  return total;
}

}  // namespace kestrel
