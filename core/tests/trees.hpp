// Small tree builders and a recording hash sink shared by the core tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "quillmar/core/hash.hpp"
#include "quillmar/core/node.hpp"

namespace quillmar::core::testing {

inline SchemaNode anything() { return SchemaNode::leaf(NodeKind::Anything); }
inline SchemaNode any() { return SchemaNode::leaf(NodeKind::Any); }
inline SchemaNode nothing() { return SchemaNode::leaf(NodeKind::Nothing); }
inline SchemaNode none() { return SchemaNode::leaf(NodeKind::None); }
inline SchemaNode boolean() { return SchemaNode::leaf(NodeKind::Bool); }
inline SchemaNode int_() { return SchemaNode::leaf(NodeKind::Int); }
inline SchemaNode float_() { return SchemaNode::leaf(NodeKind::Float); }
inline SchemaNode str() { return SchemaNode::leaf(NodeKind::Str); }
inline SchemaNode bytes() { return SchemaNode::leaf(NodeKind::Bytes); }

inline SeqPattern item(SchemaNode n) { return SeqPattern::item_of(std::move(n)); }
inline SeqPattern star(SeqPattern p) { return SeqPattern::star(std::move(p)); }

// A vector from a braced list; the elements are copied out of the list.
template <class T>
std::vector<T> vec(std::initializer_list<T> items) {
  return std::vector<T>(items);
}

inline SeqPattern concat(std::vector<SeqPattern> parts) { return SeqPattern::concat(std::move(parts)); }
inline SeqPattern alt(std::vector<SeqPattern> parts) { return SeqPattern::alt(std::move(parts)); }

inline SchemaNode list_of(SchemaNode element) { return SchemaNode::sequence(SeqKind::List, star_of_item(std::move(element))); }
inline SchemaNode tuple_of(std::vector<SchemaNode> elements) {
  std::vector<SeqPattern> parts;
  for (SchemaNode& e : elements) parts.push_back(item(std::move(e)));
  return SchemaNode::sequence(SeqKind::Tuple, concat(std::move(parts)));
}

inline RecordField field(std::string key, SchemaNode node, bool required = true) {
  return RecordField{std::move(key), std::move(node), required};
}
inline ExtrasPair pair(SchemaNode key, SchemaNode value) { return ExtrasPair{std::move(key), std::move(value)}; }

inline SchemaNode record(std::vector<RecordField> fields, std::vector<ExtrasPair> extras = {}) {
  return SchemaNode::record(std::move(fields), std::move(extras));
}
inline SchemaNode union_of(std::vector<SchemaNode> members) { return SchemaNode::union_of(std::move(members)); }
inline SchemaNode intersection_of(std::vector<SchemaNode> members) {
  return SchemaNode::intersection_of(std::move(members));
}
inline SchemaNode refined(SchemaNode base, std::vector<Constraint> constraints) {
  return SchemaNode::refined(std::move(base), std::move(constraints));
}

// Records every byte written, so a test can compare a stream byte for byte.
class RecordingSink final : public HashSink {
 public:
  void write(std::span<const std::uint8_t> b) override { bytes.insert(bytes.end(), b.begin(), b.end()); }
  std::vector<std::uint8_t> bytes;
};

// The expected side of a stream comparison, written in stream units (words, bytes, texts).
class Stream {
 public:
  Stream& word(std::uint64_t w) {
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
    return *this;
  }
  Stream& byte(std::uint8_t b) {
    bytes.push_back(b);
    return *this;
  }
  Stream& text(std::string_view t) {
    bytes.insert(bytes.end(), t.begin(), t.end());
    bytes.push_back(0xFF);
    return *this;
  }
  Stream& words(std::initializer_list<std::uint64_t> ws) {
    for (std::uint64_t w : ws) word(w);
    return *this;
  }
  std::vector<std::uint8_t> bytes;
};

inline std::vector<std::uint8_t> stream_of(const SchemaNode& node) {
  RecordingSink sink;
  hash_node(node, sink);
  return sink.bytes;
}

inline std::vector<std::uint8_t> stream_of(const SeqPattern& pattern) {
  RecordingSink sink;
  hash_pattern(pattern, sink);
  return sink.bytes;
}

// A corpus that covers every node kind, every pattern variant and every
// constraint variant, with near neighbours that differ in a single field.
inline std::vector<SchemaNode> corpus() {
  std::vector<SchemaNode> c;
  for (std::size_t k = 0; k <= static_cast<std::size_t>(NodeKind::Bytes); ++k) {
    c.push_back(SchemaNode::leaf(static_cast<NodeKind>(k)));
  }
  c.push_back(SchemaNode::literal(0));
  c.push_back(SchemaNode::literal(1));
  c.push_back(SchemaNode::literal(~std::uint64_t{0}));
  c.push_back(SchemaNode::sequence(SeqKind::List, SeqPattern::empty()));
  c.push_back(list_of(int_()));
  c.push_back(list_of(str()));
  c.push_back(SchemaNode::sequence(SeqKind::Tuple, star_of_item(int_())));
  c.push_back(tuple_of({}));
  c.push_back(tuple_of({int_()}));
  c.push_back(tuple_of({int_(), str()}));
  c.push_back(SchemaNode::sequence(SeqKind::Tuple, item(int_())));
  c.push_back(SchemaNode::sequence(SeqKind::Tuple, concat(vec({item(int_()), star(item(str()))}))));
  c.push_back(SchemaNode::sequence(SeqKind::List, alt({})));
  c.push_back(SchemaNode::sequence(SeqKind::List, alt(vec({item(int_()), SeqPattern::empty()}))));
  c.push_back(SchemaNode::sequence(SeqKind::List, star(star(item(int_())))));
  c.push_back(SchemaNode::set(int_()));
  c.push_back(SchemaNode::set(str()));
  c.push_back(SchemaNode::frozen_set(int_()));
  c.push_back(record({}));
  c.push_back(dict_of(str(), int_()));
  c.push_back(dict_of(str(), str()));
  c.push_back(record(vec({field("a", int_())})));
  c.push_back(record(vec({field("a", int_(), false)})));
  c.push_back(record(vec({field("ab", int_())})));
  c.push_back(record(vec({field("a", int_()), field("b", int_())})));
  c.push_back(record(vec({field("a", int_())}), vec({pair(str(), int_())})));
  c.push_back(record(vec({field("\xc3\xa9", int_())})));
  c.push_back(union_of({}));
  c.push_back(union_of(vec({none(), str()})));
  c.push_back(union_of(vec({str(), none()})));
  c.push_back(union_of(vec({none()})));
  c.push_back(intersection_of(vec({int_(), float_()})));
  c.push_back(SchemaNode::complement(none()));
  c.push_back(SchemaNode::complement(SchemaNode::complement(none())));
  c.push_back(SchemaNode::instance(0));
  c.push_back(SchemaNode::instance(4));
  c.push_back(SchemaNode::object(2, {}));
  c.push_back(SchemaNode::object(2, vec({field("x", int_())})));
  c.push_back(SchemaNode::object(3, {}));
  c.push_back(refined(int_(), {}));
  c.push_back(refined(int_(), {Constraint::ge(3)}));
  c.push_back(refined(int_(), {Constraint::ge(4)}));
  c.push_back(refined(int_(), {Constraint::gt(3)}));
  c.push_back(refined(int_(), {Constraint::le(3), Constraint::lt(3)}));
  c.push_back(refined(str(), {Constraint::min_len(1), Constraint::max_len(1)}));
  c.push_back(refined(int_(), {Constraint::multiple_of(1), Constraint::predicate(1)}));
  c.push_back(refined(str(), {Constraint::regex("a")}));
  c.push_back(refined(str(), {Constraint::regex("a+")}));
  c.push_back(refined(str(), {Constraint::regex("")}));
  c.push_back(SchemaNode::ref(0));
  c.push_back(SchemaNode::ref(1));
  c.push_back(SchemaNode::placeholder(0));
  c.push_back(SchemaNode::placeholder(9));
  return c;
}

}  // namespace quillmar::core::testing
