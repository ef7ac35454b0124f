// The inside of a Validator: pool, definitions, root and the check tables' cell;
// and the operations that make, copy and limit it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "constant_pool.hpp"
#include "py/error.hpp"
#include "quillmar/core/node.hpp"

namespace quillmar::ext {

// The check's lookup tables, filled once by the first check; only the walk
// sees inside them, so a change there rebuilds only the walk.
struct CheckTables;
template <class T>
class OnceCell;
using CheckTablesCell = OnceCell<CheckTables>;
struct CheckTablesCellDeleter {
  void operator()(CheckTablesCell* cell) const;
};
using CheckTablesCellPtr = std::unique_ptr<CheckTablesCell, CheckTablesCellDeleter>;
CheckTablesCellPtr make_check_tables_cell();

using core::SchemaNode;

inline constexpr std::uint64_t MAX_SCHEMA_DEPTH = 128;
inline constexpr std::uint64_t MAX_DEFINITIONS = 128;
inline constexpr std::uint64_t MAX_SCHEMA_NODES = 100000;

struct CompiledSchema {
  ConstantPool pool;
  std::vector<SchemaNode> definitions;
  SchemaNode root;
  // Nodes numbered for the check tables (finalize_schema, with_records_open;
  // a clone keeps the numbers of the tree it copies).
  std::uint32_t slot_count = 0;
  // Empty in every schema made here (copies included); filled by the first check.
  CheckTablesCellPtr tables = make_check_tables_cell();
};

// Holds the finished schema to the three limits (depth, then definitions,
// then nodes); a breach is a ValueError.
Result<CompiledSchema> finalize_schema(SchemaNode root, ConstantPool pool, std::vector<SchemaNode> definitions);

CompiledSchema clone_schema(const CompiledSchema& schema);

// Opens or closes every record that declares a field, in the root and in
// every definition (a recursive schema's root is only a Ref).
CompiledSchema with_records_open(const CompiledSchema& schema, bool open);

// Moves a schema into the compile being built: its pool interned, its
// definitions appended with their indices moved; returns its moved root.
SchemaNode embed_schema(const CompiledSchema& embedded, ConstantPoolBuilder& builder,
                        std::vector<SchemaNode>& definitions);

}  // namespace quillmar::ext
