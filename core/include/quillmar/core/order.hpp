// The canonical order: a total order on schema trees, consistent with
// structural equality. The simplifier sorts members and constraints by it.
#pragma once

#include <compare>
#include <vector>

#include "quillmar/core/node.hpp"

namespace quillmar::core {

std::strong_ordering compare_nodes(const SchemaNode& a, const SchemaNode& b);
std::strong_ordering compare_patterns(const SeqPattern& a, const SeqPattern& b);
std::strong_ordering compare_field_lists(const std::vector<RecordField>& a, const std::vector<RecordField>& b);
std::strong_ordering compare_pair_lists(const std::vector<ExtrasPair>& a, const std::vector<ExtrasPair>& b);
std::strong_ordering compare_constraint_lists(const std::vector<Constraint>& a, const std::vector<Constraint>& b);
std::strong_ordering compare_constraints(const Constraint& a, const Constraint& b);

}  // namespace quillmar::core
