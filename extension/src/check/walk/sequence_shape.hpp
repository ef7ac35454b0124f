// A list pattern as the JSON walks read it: a prefix of single items and an
// optional repeated tail, the same readings as core::tuple_shape but without
// building a vector.
#pragma once

#include <cstddef>
#include <optional>

#include "compiled_schema.hpp"

namespace quillmar::ext {

struct ShapeView {
  const core::SeqPattern* concat = nullptr;  // the prefix items are concat->parts[0, prefix)
  const SchemaNode* single = nullptr;  // or the one Item
  std::size_t prefix = 0;
  const SchemaNode* tail = nullptr;

  const SchemaNode* at(std::size_t i) const {
    if (i >= prefix) return tail;
    return single ? single : &concat->parts[i].item_node();
  }
  // Whether a sequence of this many items can match: the prefix, and no more
  // without a tail.
  bool admits_length(std::size_t n) const { return tail ? n >= prefix : n == prefix; }
};

inline bool is_star_of_item(const core::SeqPattern& pattern) {
  return pattern.kind == core::PatternKind::Star && pattern.star_inner().kind == core::PatternKind::Item;
}

inline std::optional<ShapeView> shape_of(const core::SeqPattern& pattern) {
  ShapeView shape;
  switch (pattern.kind) {
    case core::PatternKind::Empty:
      return shape;
    case core::PatternKind::Item:
      shape.single = &pattern.item_node();
      shape.prefix = 1;
      return shape;
    case core::PatternKind::Star:
      if (!is_star_of_item(pattern)) return std::nullopt;
      shape.tail = &pattern.star_inner().item_node();
      return shape;
    case core::PatternKind::Concat:
      shape.concat = &pattern;
      for (std::size_t i = 0; i < pattern.parts.size(); ++i) {
        const core::SeqPattern& part = pattern.parts[i];
        if (part.kind == core::PatternKind::Item && shape.prefix == i) {
          ++shape.prefix;
        } else if (i + 1 == pattern.parts.size() && is_star_of_item(part)) {
          shape.tail = &part.star_inner().item_node();
        } else {
          return std::nullopt;
        }
      }
      return shape;
    case core::PatternKind::Alt:
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace quillmar::ext
