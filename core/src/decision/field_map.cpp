#include "quillmar/core/decision/field_map.hpp"

namespace quillmar::core {

namespace {
// Below this many fields a linear search beats building a hash map.
constexpr std::size_t LINEAR_SEARCH_FIELDS = 8;
}  // namespace

FieldMap::FieldMap(std::span<const RecordField> fields) {
  const bool hashed = fields.size() > LINEAR_SEARCH_FIELDS;
  std::vector<std::size_t> group_of(fields.size());
  std::vector<std::size_t> counts;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const RecordField& field = fields[i];
    std::size_t group = groups_.size();
    if (hashed) {
      auto [it, inserted] = index_.try_emplace(field.key, group);
      if (!inserted) group = it->second;
    } else {
      for (std::size_t g = 0; g < groups_.size(); ++g) {
        if (groups_[g].key == field.key) {
          group = g;
          break;
        }
      }
    }
    if (group == groups_.size()) {
      groups_.push_back(FieldGroup{field.key, false, {}});
      counts.push_back(0);
    }
    groups_[group].required = groups_[group].required || field.required;
    ++counts[group];
    group_of[i] = group;
  }

  // Lay each group's nodes out contiguously, in declared order.
  std::vector<std::size_t> next(groups_.size());
  std::size_t offset = 0;
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    next[g] = offset;
    offset += counts[g];
  }
  nodes_.resize(fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) nodes_[next[group_of[i]]++] = &fields[i].node;
  offset = 0;
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    groups_[g].nodes = std::span<const SchemaNode* const>(nodes_.data() + offset, counts[g]);
    offset += counts[g];
  }
}

const FieldGroup* FieldMap::find(std::string_view key) const {
  if (!index_.empty()) {
    auto it = index_.find(key);
    return it == index_.end() ? nullptr : &groups_[it->second];
  }
  for (const FieldGroup& group : groups_) {
    if (group.key == key) return &group;
  }
  return nullptr;
}

FieldMap field_map(std::span<const RecordField> fields) { return FieldMap(fields); }

}  // namespace quillmar::core
