#include "check/walk/record_keys.hpp"

namespace quillmar::ext {
namespace {

[[gnu::noinline]] const RecordIndex* build_record_keys(const SchemaNode& node, CheckState& state,
                                                       std::unique_ptr<RecordIndex>& local) {
  Result<RecordIndex> built = RecordIndex::build(node.fields);
  if (!built) {
    store_fatal_error(std::move(built.error()).into_exception(), state);
    return nullptr;
  }
  local = std::make_unique<RecordIndex>(std::move(*built));
  return local.get();
}

}  // namespace

const RecordIndex* record_keys(const SchemaNode& node, const WalkContext& ctx, std::unique_ptr<RecordIndex>& local) {
  static const RecordIndex no_fields;
  if (node.fields.empty()) return &no_fields;
  if (const RecordIndex* index = ctx.tables()->record(node)) return index;
  return build_record_keys(node, *ctx.state, local);
}

}  // namespace quillmar::ext
