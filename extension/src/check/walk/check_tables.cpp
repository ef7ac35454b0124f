#include "check/walk/check_tables.hpp"

#include <algorithm>
#include <bit>
#include <limits>

#include "check/walk/json_stream_walk.hpp"
#include "check/walk/json_walk.hpp"
#include "compiled_schema.hpp"
#include "py/once.hpp"
#include "py/utf8_view.hpp"

namespace quillmar::ext {

using core::NodeKind;
using core::SchemaNode;
using core::SeqPattern;

namespace {

// A failed C API call while filling: MemoryError ends the fill, anything
// else (a text that is not UTF-8) only leaves the entry out.
Result<void> discard_unless_memory_error() {
  if (PyErr_ExceptionMatches(PyExc_MemoryError)) return fetched();
  PyErr_Clear();
  return {};
}

// The interned str with this text; nothing when no str can have it (not
// UTF-8), since then no Python key can match it either.
Result<PyRef> interned_text(std::string_view text) {
  PyObject* str = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  if (!str) {
    QUILLMAR_TRY(discard_unless_memory_error());
    return PyRef();
  }
  PyUnicode_InternInPlace(&str);
  return PyRef::steal(str);
}

// The text hash of any str instance: the base slot reads the object's own
// data, so a subclass's __hash__ never runs and the value is cached in it.
Py_hash_t str_text_hash(PyObject* str) {
  Py_hash_t cached = reinterpret_cast<PyASCIIObject*>(str)->hash;
  return cached != -1 ? cached : PyUnicode_Type.tp_hash(str);
}

struct Filler {
  const ConstantPool& pool;
  CheckTables& out;
  bool leaves_to_tree_walk = false;  // a Refined node the reading walk cannot decide

  Result<void> node(const SchemaNode& n) {
    switch (n.kind) {
      case NodeKind::Anything:
      case NodeKind::Any:
      case NodeKind::Nothing:
      case NodeKind::None:
      case NodeKind::Bool:
      case NodeKind::Int:
      case NodeKind::Float:
      case NodeKind::Str:
      case NodeKind::Bytes:
      case NodeKind::Literal:
      case NodeKind::Instance:
      case NodeKind::Ref:  // every definition is visited on its own
      case NodeKind::Placeholder:
        return {};
      case NodeKind::Sequence:
        return pattern(n.seq_pattern());
      case NodeKind::Set:
      case NodeKind::FrozenSet:
      case NodeKind::Complement:
        return node(n.children.front());
      case NodeKind::Intersection:
        return nodes(n.members());
      case NodeKind::Object:
        return object(n);
      case NodeKind::Record:
        return record(n);
      case NodeKind::Union:
        return union_of(n);
      case NodeKind::Refined:
        return refined(n);
    }
    return {};
  }

  Result<void> nodes(const std::vector<SchemaNode>& list) {
    for (const SchemaNode& n : list) {
      if (auto done = node(n); !done) return done;
    }
    return {};
  }

  Result<void> pattern(const SeqPattern& p) {
    switch (p.kind) {
      case core::PatternKind::Empty:
        return {};
      case core::PatternKind::Item:
        return node(p.item_node());
      case core::PatternKind::Concat:
      case core::PatternKind::Alt:
      case core::PatternKind::Star:
        for (const SeqPattern& part : p.parts) {
          if (auto done = pattern(part); !done) return done;
        }
        return {};
    }
    return {};
  }

  Result<void> fields(const std::vector<core::RecordField>& list) {
    for (const core::RecordField& field : list) {
      if (auto done = node(field.node); !done) return done;
    }
    return {};
  }

  // The slot's entry to fill, or nullptr when the node has none to take
  // (already filled, or outside the numbered tree).
  std::uint32_t* free_entry(const SchemaNode& n) {
    const std::uint32_t slot = n.slot;
    if (slot >= out.node_of_slot.size()) return nullptr;
    if (out.node_of_slot[slot] != nullptr) return nullptr;
    out.node_of_slot[slot] = &n;
    return &out.entry_of_slot[slot];
  }

  Result<void> record(const SchemaNode& n) {
    if (std::uint32_t* entry = n.fields.empty() ? nullptr : free_entry(n)) {
      auto index = RecordIndex::build(n.fields);
      QUILLMAR_RETURN_IF_FAILED(index);
      *entry = static_cast<std::uint32_t>(out.records.size());
      out.records.push_back(std::move(*index));
    }
    if (auto done = fields(n.fields); !done) return done;
    for (const core::ExtrasPair& pair : n.extras) {
      if (auto done = node(pair.key); !done) return done;
      if (auto done = node(pair.value); !done) return done;
    }
    return {};
  }

  Result<void> object(const SchemaNode& n) {
    if (std::uint32_t* entry = n.fields.empty() ? nullptr : free_entry(n)) {
      std::vector<PyRef> names;
      names.reserve(n.fields.size());
      for (const core::RecordField& field : n.fields) {
        PyObject* name =
            PyUnicode_FromStringAndSize(field.key.data(), static_cast<Py_ssize_t>(field.key.size()));
        if (!name) {
          // The walk makes the name on the spot and meets the same failure there.
          if (auto failed = discard_unless_memory_error(); !failed) return failed;
          names.clear();
          break;
        }
        PyUnicode_InternInPlace(&name);
        names.push_back(PyRef::steal(name));
      }
      if (!names.empty()) {
        *entry = static_cast<std::uint32_t>(out.attribute_names.size());
        out.attribute_names.push_back(std::move(names));
      }
    }
    return fields(n.fields);
  }

  Result<void> union_of(const SchemaNode& n) {
    if (std::uint32_t* entry = free_entry(n)) {
      if (std::optional<LiteralSets> sets = literal_sets(n.members())) {
        *entry = static_cast<std::uint32_t>(out.literal_unions.size());
        out.literal_unions.push_back(std::move(*sets));
      }
    }
    return nodes(n.members());
  }

  // Only exact int and str literals enter; the conversions call no Python code.
  std::optional<LiteralSets> literal_sets(const std::vector<SchemaNode>& members) {
    LiteralSets sets;
    for (const SchemaNode& member : members) {
      if (member.kind != NodeKind::Literal) return std::nullopt;
      PyObject* literal = pool.at(member.value_index());
      if (!literal) return std::nullopt;
      if (PyLong_CheckExact(literal)) {
        long long value = PyLong_AsLongLong(literal);
        if (value == -1 && PyErr_Occurred()) {
          PyErr_Clear();
        } else {
          sets.ints.insert(static_cast<std::int64_t>(value));
        }
      } else if (PyUnicode_CheckExact(literal)) {
        if (std::optional<std::string_view> text = utf8_view(literal)) sets.strs.emplace(*text);
      }
    }
    return sets;
  }

  Result<void> refined(const SchemaNode& n) {
    if (auto done = node(n.base()); !done) return done;
    if (!reading_walk_decides(n)) leaves_to_tree_walk = true;
    for (const core::Constraint& constraint : n.constraints) {
      if (constraint.kind != core::ConstraintKind::Regex) continue;
      if (out.regex_cache.find(constraint.pattern_text) == out.regex_cache.end()) {
        // A pattern that does not compile is left out; each check that meets it fails it again.
        if (Result<CompiledPattern> compiled = compile_pattern(constraint.pattern_text)) {
          out.regex_cache.emplace(constraint.pattern_text, std::move(*compiled));
        }
      }
      if (const re2::RE2* regex = out.pattern(constraint.pattern_text)) {
        out.matchers.emplace_back(&constraint, PatternMatcher{regex, PatternDfa::build(constraint.pattern_text)});
      }
    }
    return {};
  }
};

}  // namespace

Result<RecordIndex> RecordIndex::build(std::span<const core::RecordField> fields) {
  RecordIndex index;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const core::RecordField& field = fields[i];
    auto [at, fresh] = index.by_text_.try_emplace(field.key, static_cast<std::uint32_t>(index.keys_.size()));
    if (fresh) index.keys_.push_back(RecordKey{field.key, {}, false});
    RecordKey& key = index.keys_[at->second];
    key.fields.push_back(static_cast<std::uint32_t>(i));
    if (field.required && !key.required) {
      key.required = true;
      ++index.required_count_;
    }
  }
  // At most half full, so a probe ends after a few slots.
  index.by_hash_.resize(std::bit_ceil(index.keys_.size() * 2 + 1));
  const std::size_t mask = index.by_hash_.size() - 1;
  index.key_objects_.assign(index.keys_.size(), nullptr);
  for (std::size_t k = 0; k < index.keys_.size(); ++k) {
    auto str = interned_text(index.keys_[k].text);
    QUILLMAR_RETURN_IF_FAILED(str);
    if (!*str) continue;
    const Py_hash_t hash = PyUnicode_Type.tp_hash(str->get());
    for (std::size_t at = static_cast<std::size_t>(hash) & mask;; at = (at + 1) & mask) {
      if (index.by_hash_[at].key_plus_one == 0) {
        index.by_hash_[at] = Slot{hash, str->get(), static_cast<std::uint32_t>(k + 1)};
        break;
      }
    }
    index.key_objects_[k] = str->get();
    index.objects_.push_back(std::move(*str));
  }
  return index;
}

std::optional<std::size_t> RecordIndex::find(PyObject* str_key) const {
  if (keys_.empty()) return std::nullopt;
  const Py_hash_t hash = str_text_hash(str_key);
  const std::size_t mask = by_hash_.size() - 1;
  for (std::size_t at = static_cast<std::size_t>(hash) & mask;; at = (at + 1) & mask) {
    const Slot& slot = by_hash_[at];
    if (slot.key_plus_one == 0) return std::nullopt;
    if (slot.object == str_key) return slot.key_plus_one - 1;
    if (slot.hash != hash) continue;
    std::optional<std::string_view> text = utf8_view(str_key);
    if (!text) return std::nullopt;
    if (*text == keys_[slot.key_plus_one - 1].text) return slot.key_plus_one - 1;
  }
}

std::optional<std::size_t> RecordIndex::find(std::string_view text) const {
  auto at = by_text_.find(text);
  if (at == by_text_.end()) return std::nullopt;
  return at->second;
}

const RecordIndex* CheckTables::record(const SchemaNode& record) const {
  const std::uint32_t at = entry(record);
  return at == NO_ENTRY ? nullptr : &records[at];
}

const LiteralSets* CheckTables::literal_sets(const SchemaNode& union_node) const {
  const std::uint32_t at = entry(union_node);
  return at == NO_ENTRY ? nullptr : &literal_unions[at];
}

const re2::RE2* CheckTables::pattern(std::string_view pattern_text) const {
  auto at = regex_cache.find(pattern_text);
  return at == regex_cache.end() ? nullptr : at->second.get();
}

const PatternMatcher* CheckTables::matcher(const core::Constraint& regex) const {
  auto at = std::lower_bound(matchers.begin(), matchers.end(), &regex,
                             [](const auto& entry, const core::Constraint* key) { return entry.first < key; });
  return at != matchers.end() && at->first == &regex ? &at->second : nullptr;
}

bool CheckTables::text_matches(const core::Constraint& regex, std::string_view text) const {
  if (const PatternMatcher* found = matcher(regex)) {
    return found->dfa ? found->dfa->matches(text) : pattern_matches(*found->regex, text);
  }
  const re2::RE2* compiled_pattern = pattern(regex.pattern_text);
  CompiledPattern on_the_spot;
  if (!compiled_pattern) {
    Result<CompiledPattern> compiled = compile_pattern(regex.pattern_text);
    if (!compiled) return false;
    on_the_spot = std::move(*compiled);
    compiled_pattern = on_the_spot.get();
  }
  return pattern_matches(*compiled_pattern, text);
}

std::span<const PyRef> CheckTables::attribute_names_of(const SchemaNode& object) const {
  const std::uint32_t at = entry(object);
  if (at == NO_ENTRY) return {};
  return attribute_names[at];
}

void CheckTablesCellDeleter::operator()(CheckTablesCell* cell) const { delete cell; }

CheckTablesCellPtr make_check_tables_cell() { return CheckTablesCellPtr(new CheckTablesCell()); }

Result<const CheckTables*> ensure_check_tables(const CompiledSchema& schema) {
  return schema.tables->get_or_init([&schema]() -> Result<CheckTables> {
    CheckTables tables;
    tables.node_of_slot.assign(schema.slot_count, nullptr);
    tables.entry_of_slot.assign(schema.slot_count, CheckTables::NO_ENTRY);
    Filler filler{schema.pool, tables};
    QUILLMAR_TRY(filler.node(schema.root));
    QUILLMAR_TRY(filler.nodes(schema.definitions));
    std::sort(tables.matchers.begin(), tables.matchers.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    tables.reading_pass_decides = !filler.leaves_to_tree_walk && json_walk_runs_no_python(schema);
    return tables;
  });
}

}  // namespace quillmar::ext
