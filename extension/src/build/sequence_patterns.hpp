// The two sequence-pattern shapes the compiler builds: a fixed run of items,
// and a fixed prefix followed by a repeated tail.
#pragma once

#include <vector>

#include "quillmar/core/node.hpp"

namespace quillmar::ext {

inline core::SeqPattern concat_of_items(std::vector<core::SchemaNode> nodes) {
  std::vector<core::SeqPattern> parts;
  parts.reserve(nodes.size());
  for (auto& node : nodes) parts.push_back(core::SeqPattern::item_of(std::move(node)));
  return core::SeqPattern::concat(std::move(parts));
}

inline core::SeqPattern concat_with_star_tail(std::vector<core::SchemaNode> prefix, core::SchemaNode tail) {
  std::vector<core::SeqPattern> parts;
  parts.reserve(prefix.size() + 1);
  for (auto& node : prefix) parts.push_back(core::SeqPattern::item_of(std::move(node)));
  parts.push_back(core::star_of_item(std::move(tail)));
  return core::SeqPattern::concat(std::move(parts));
}

// Elements already compiled in order, the last being the tail of a variadic
// form: Star(Item tail) alone, or after the prefix.
inline core::SeqPattern variadic_pattern(std::vector<core::SchemaNode> nodes) {
  core::SchemaNode tail = std::move(nodes.back());
  nodes.pop_back();
  if (nodes.empty()) return core::star_of_item(std::move(tail));
  return concat_with_star_tail(std::move(nodes), std::move(tail));
}

}  // namespace quillmar::ext
