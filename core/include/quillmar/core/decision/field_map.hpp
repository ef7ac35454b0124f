// Declared fields grouped by key, as the decisions read them.
//
// A key may be declared by several fields. It stands for all of them: a value
// under that key must match each field's node, and the key is required when
// any of its fields is.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "quillmar/core/node.hpp"

namespace quillmar::core {

struct FieldGroup {
  std::string_view key;
  bool required = false;                       // some field with this key is required
  std::span<const SchemaNode* const> nodes;    // each field's node, in declared order
};

// Borrows from the fields it was built over.
class FieldMap {
 public:
  explicit FieldMap(std::span<const RecordField> fields);
  FieldMap(const FieldMap&) = delete;
  FieldMap& operator=(const FieldMap&) = delete;
  FieldMap(FieldMap&&) = default;
  FieldMap& operator=(FieldMap&&) = default;

  const FieldGroup* find(std::string_view key) const;
  // In the order of each key's first field.
  std::span<const FieldGroup> groups() const { return groups_; }

 private:
  std::vector<const SchemaNode*> nodes_;
  std::vector<FieldGroup> groups_;
  std::unordered_map<std::string_view, std::size_t> index_;  // only for records past a few fields
};

FieldMap field_map(std::span<const RecordField> fields);

}  // namespace quillmar::core
