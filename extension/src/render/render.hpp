// repr() of a Validator: the compiled schema written back as annotation text.
//
// Every function appends to one output text; none can fail. Texts of pool
// objects come only from safe_repr and class_name_text, which have their own
// fallbacks.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "compiled_schema.hpp"
#include "constant_pool.hpp"
#include "quillmar/core/node.hpp"

namespace quillmar::ext {

// A node deeper than this is written "..." whatever its kind.
inline constexpr std::uint64_t MAX_RENDER_DEPTH = 200;

// Each use of a definition is expanded in full, so a few definitions that use
// one another several times would multiply the text without end. Past this
// many bytes of output every further node is written "..." and every list form
// still open ends with a last item "..."; ordinary schemas stay far below it.
inline constexpr std::size_t MAX_RENDER_TEXT = std::size_t{1} << 24;

// What a rendering carries down the tree. The seen-set (definitions being
// expanded on the current path) is shared by the whole rendering of one root;
// the depth is the rendered node's own.
struct RenderContext {
  const ConstantPool& pool;
  std::span<const SchemaNode> definitions;
  std::vector<bool>& seen;
  std::uint64_t depth = 0;

  RenderContext deeper() const { return {pool, definitions, seen, depth + 1}; }
};

// Appends the node's text; ctx carries the node's own depth.
void render_node(std::string& out, const SchemaNode& node, const RenderContext& ctx);

// The node one level below parent, or "..." when there is none.
void render_child(std::string& out, const SchemaNode* node, const RenderContext& parent);

// The items of one list form (brackets, braces or a union), written straight
// into the output: next() writes the separator before every item but the
// first, and once the output is past MAX_RENDER_TEXT writes a last item "..."
// and refuses every further item.
class ItemList {
 public:
  ItemList(std::string& out, std::string_view separator) : out_(out), separator_(separator) {}
  bool next();

 private:
  std::string& out_;
  std::string_view separator_;
  bool first_ = true;
  bool closed_ = false;
};

// One item per field, per member, per prefix element, each one level below
// parent.
void render_fields(ItemList& items, std::string& out, std::span<const core::RecordField> fields,
                   const RenderContext& parent);
void render_nodes(ItemList& items, std::string& out, std::span<const SchemaNode> nodes, const RenderContext& parent);
void render_node_refs(ItemList& items, std::string& out, std::span<const SchemaNode* const> nodes,
                      const RenderContext& parent);

// The text of a whole schema: its root at depth 0 with an empty seen-set.
std::string render_schema(const CompiledSchema& schema);

}  // namespace quillmar::ext
