// The record of an imaging run: which byte ranges of the source are copied,
// still to be tried, or unreadable. Kept in GNU ddrescue's mapfile format so
// that ddrescue, ddrescuelog and the user's own scripts can read and continue
// it: '#' comment lines, a status line "current_pos current_status
// current_pass", then one "pos size status" line per area, covering the
// source from 0 to its end without gaps.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// Area states as ddrescue writes them.
inline constexpr char kAreaNonTried = '?';
inline constexpr char kAreaNonTrimmed = '*';
inline constexpr char kAreaNonScraped = '/';
inline constexpr char kAreaBad = '-';
inline constexpr char kAreaFinished = '+';

struct MapArea {
  uint64_t pos = 0;
  uint64_t size = 0;
  char status = kAreaNonTried;
  uint64_t end() const { return pos + size; }
};

class RescueMap {
 public:
  RescueMap() = default;
  // One untried area of size bytes.
  explicit RescueMap(uint64_t size);

  // Reads a mapfile. False with why set when a line cannot be read, the areas
  // leave a gap or overlap, or they do not start at 0.
  static bool Parse(std::string_view text, RescueMap& out, std::string& why);
  // The mapfile text; header lines are '#' comments, ignored on reading.
  std::string Format(std::string_view createdBy) const;

  // Gives [pos, pos + size) the status, splitting and merging areas so that
  // neighbours never share a status.
  void Mark(uint64_t pos, uint64_t size, char status);
  // The first area at or after pos whose status is one of statuses; its part
  // before pos is cut off. False when there is none.
  bool NextArea(uint64_t pos, std::string_view statuses, MapArea& out) const;
  // Bytes in areas of this status.
  uint64_t Bytes(char status) const;
  uint64_t size() const { return areas_.empty() ? 0 : areas_.back().end(); }
  const std::vector<MapArea>& areas() const { return areas_; }

  // The status line: where the run is and what it is doing ('?' copying,
  // '-' retrying bad areas, '+' finished), and the pass number.
  uint64_t currentPos = 0;
  char currentStatus = kAreaNonTried;
  int currentPass = 1;

 private:
  std::vector<MapArea> areas_;
};

}  // namespace kestrel
