#include "errors/distinct_items.hpp"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string_view>
#include <unordered_set>

namespace quillmar::ext {
namespace {

std::size_t mix(std::size_t h, std::size_t part) { return (h ^ part) * 0x100000001B3ull + 0x9E3779B97F4A7C15ull; }

struct ItemHash {
  std::size_t operator()(const ErrorItem* item) const {
    std::hash<std::string_view> text;
    std::size_t h = text(item->code);
    h = mix(h, text(item->expected));
    h = mix(h, text(item->value));
    h = mix(h, std::hash<const void*>{}(item->found.get()));
    for (const PathSegment& segment : item->path) {
      h = mix(h, segment.kind == PathSegment::Kind::Index ? std::hash<std::uint64_t>{}(segment.index)
                                                           : text(segment.key));
    }
    return h;
  }
};

bool same_segment(const PathSegment& a, const PathSegment& b) {
  return a.kind == b.kind && (a.kind == PathSegment::Kind::Index ? a.index == b.index : a.key == b.key);
}

struct ItemEqual {
  bool operator()(const ErrorItem* a, const ErrorItem* b) const {
    return a->code == b->code && a->expected == b->expected && a->value == b->value &&
           a->found.get() == b->found.get() &&
           std::equal(a->path.begin(), a->path.end(), b->path.begin(), b->path.end(), same_segment);
  }
};

}  // namespace

namespace {

// Moves the items not marked repeated to the front, in order, and drops the rest.
template <typename Repeated>
void drop_repeated(std::vector<ErrorItem>& items, Repeated repeated) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (repeated(i)) continue;
    if (kept != i) items[kept] = std::move(items[i]);
    ++kept;
  }
  items.erase(items.begin() + static_cast<std::ptrdiff_t>(kept), items.end());
}

// Most reports hold a few items: compared pairwise, with nothing allocated.
constexpr std::size_t PAIRWISE_MAX = 16;

}  // namespace

void keep_distinct_items(std::vector<ErrorItem>& items) {
  if (items.size() < 2) return;
  const ItemEqual equal;
  if (items.size() <= PAIRWISE_MAX) {
    std::uint32_t repeated = 0;  // one bit per item
    for (std::size_t i = 1; i < items.size(); ++i) {
      for (std::size_t j = 0; j < i; ++j) {
        if (!(repeated >> j & 1) && equal(&items[i], &items[j])) {
          repeated |= std::uint32_t{1} << i;
          break;
        }
      }
    }
    if (repeated) drop_repeated(items, [repeated](std::size_t i) { return (repeated >> i & 1) != 0; });
    return;
  }
  std::unordered_set<const ErrorItem*, ItemHash, ItemEqual> seen;
  seen.reserve(items.size());
  std::vector<bool> repeated(items.size(), false);
  bool any = false;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (!seen.insert(&items[i]).second) repeated[i] = any = true;
  }
  if (any) drop_repeated(items, [&repeated](std::size_t i) { return repeated[i]; });
}

}  // namespace quillmar::ext
