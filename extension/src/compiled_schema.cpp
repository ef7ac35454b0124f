#include "compiled_schema.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <limits>

#include "quillmar/core/measures.hpp"
#include "quillmar/core/transforms.hpp"

namespace quillmar::ext {

Result<CompiledSchema> finalize_schema(SchemaNode root, ConstantPool pool, std::vector<SchemaNode> definitions) {
  std::uint64_t depth = core::node_depth(root);
  for (const SchemaNode& body : definitions) depth = std::max(depth, core::node_depth(body));
  if (depth > MAX_SCHEMA_DEPTH) {
    return fail(PyExc_ValueError,
                fmt::format("schema nesting is too deep: this validator reaches {} levels of nesting, past the limit "
                            "of {}. A validator this deep comes from building in an unbounded loop; checking it would "
                            "risk a native stack overflow. Express structural recursion with recursive(...) instead "
                            "of nesting schemas.",
                            depth, MAX_SCHEMA_DEPTH));
  }
  if (definitions.size() > MAX_DEFINITIONS) {
    return fail(PyExc_ValueError,
                fmt::format("schema holds too many recursive definitions: this validator has {} of them, past the "
                            "limit of {}. A validator with this many comes from chaining recursive schemas in an "
                            "unbounded loop; rendering or deciding it would risk a native stack overflow.",
                            definitions.size(), MAX_DEFINITIONS));
  }
  std::uint64_t count = 0;
  for (const SchemaNode& body : definitions) count += core::node_count(body);
  std::uint64_t root_count = core::node_count(root);
  count = count > std::numeric_limits<std::uint64_t>::max() - root_count ? std::numeric_limits<std::uint64_t>::max()
                                                                          : count + root_count;
  if (count > MAX_SCHEMA_NODES) {
    return fail(PyExc_ValueError,
                fmt::format("schema is too large: this validator spans {} nodes, past the limit of {}. A schema this "
                            "large comes from combining a validator with itself in an unbounded loop, which doubles "
                            "its size each step; building it would exhaust memory.",
                            count, MAX_SCHEMA_NODES));
  }
  CompiledSchema schema;
  schema.pool = std::move(pool);
  schema.definitions = std::move(definitions);
  schema.root = std::move(root);
  schema.slot_count = core::number_nodes(schema.root, schema.definitions);
  return schema;
}

CompiledSchema clone_schema(const CompiledSchema& schema) {
  CompiledSchema copy;
  copy.pool = schema.pool.copy();
  copy.definitions = schema.definitions;
  copy.root = schema.root;
  copy.slot_count = schema.slot_count;
  return copy;
}

CompiledSchema with_records_open(const CompiledSchema& schema, bool open) {
  CompiledSchema copy;
  copy.pool = schema.pool.copy();
  copy.definitions.reserve(schema.definitions.size());
  for (const SchemaNode& body : schema.definitions) copy.definitions.push_back(core::set_records_open(body, open));
  copy.root = core::set_records_open(schema.root, open);
  copy.slot_count = core::number_nodes(copy.root, copy.definitions);
  return copy;
}

SchemaNode embed_schema(const CompiledSchema& embedded, ConstantPoolBuilder& builder,
                        std::vector<SchemaNode>& definitions) {
  std::vector<std::uint64_t> table = builder.intern_constants(embedded.pool.objects());
  core::PoolRemap remap{table, definitions.size()};
  definitions.reserve(definitions.size() + embedded.definitions.size());
  for (const SchemaNode& body : embedded.definitions) definitions.push_back(core::remap_indices(body, remap));
  return core::remap_indices(embedded.root, remap);
}

}  // namespace quillmar::ext
