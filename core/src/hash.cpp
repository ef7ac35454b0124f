#include "quillmar/core/hash.hpp"

#include <array>
#include <bit>

namespace quillmar::core {

void HashSink::write_word(std::uint64_t word) {
  std::array<std::uint8_t, 8> bytes;
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(word >> (8 * i));
  write(bytes);
}

void HashSink::write_byte(std::uint8_t byte) { write(std::span<const std::uint8_t>(&byte, 1)); }

void HashSink::write_text(std::string_view text) {
  write(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  // 0xFF never occurs in UTF-8, so the text ends unambiguously.
  write_byte(0xFF);
}

namespace {

struct SipState {
  std::uint64_t v0, v1, v2, v3;

  void round() {
    v0 += v1;
    v1 = std::rotl(v1, 13);
    v1 ^= v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = std::rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = std::rotl(v1, 17);
    v1 ^= v2;
    v2 = std::rotl(v2, 32);
  }
};

}  // namespace

SipHasher13::SipHasher13(std::uint64_t k0, std::uint64_t k1)
    : v0_(k0 ^ 0x736f6d6570736575ULL),
      v1_(k1 ^ 0x646f72616e646f6dULL),
      v2_(k0 ^ 0x6c7967656e657261ULL),
      v3_(k1 ^ 0x7465646279746573ULL) {}

void SipHasher13::compress(std::uint64_t m) {
  SipState s{v0_, v1_, v2_, v3_};
  s.v3 ^= m;
  s.round();  // c = 1
  s.v0 ^= m;
  v0_ = s.v0;
  v1_ = s.v1;
  v2_ = s.v2;
  v3_ = s.v3;
}

void SipHasher13::write(std::span<const std::uint8_t> bytes) {
  length_ += bytes.size();
  for (std::uint8_t byte : bytes) {
    tail_ |= static_cast<std::uint64_t>(byte) << (8 * tail_len_);
    if (++tail_len_ == 8) {
      compress(tail_);
      tail_ = 0;
      tail_len_ = 0;
    }
  }
}

std::uint64_t SipHasher13::finish() const {
  SipState s{v0_, v1_, v2_, v3_};
  const std::uint64_t b = (length_ << 56) | tail_;
  s.v3 ^= b;
  s.round();
  s.v0 ^= b;
  s.v2 ^= 0xff;
  for (int i = 0; i < 3; ++i) s.round();  // d = 3
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

std::uint64_t sip_hash13(std::span<const std::uint8_t> bytes, std::uint64_t k0, std::uint64_t k1) {
  SipState s{k0 ^ 0x736f6d6570736575ULL, k1 ^ 0x646f72616e646f6dULL, k0 ^ 0x6c7967656e657261ULL,
             k1 ^ 0x7465646279746573ULL};
  auto compress = [&s](std::uint64_t m) {
    s.v3 ^= m;
    s.round();
    s.v0 ^= m;
  };
  const std::size_t whole = bytes.size() & ~std::size_t{7};
  for (std::size_t i = 0; i < whole; i += 8) {
    std::uint64_t word = 0;
    for (std::size_t b = 0; b < 8; ++b) word |= static_cast<std::uint64_t>(bytes[i + b]) << (8 * b);
    compress(word);
  }
  std::uint64_t last = static_cast<std::uint64_t>(bytes.size()) << 56;
  for (std::size_t b = whole; b < bytes.size(); ++b) last |= static_cast<std::uint64_t>(bytes[b]) << (8 * (b - whole));
  compress(last);
  s.v2 ^= 0xff;
  for (int i = 0; i < 3; ++i) s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

namespace {

void hash_fields(const std::vector<RecordField>& fields, HashSink& sink) {
  sink.write_word(fields.size());
  for (const RecordField& field : fields) {
    sink.write_text(field.key);
    hash_node(field.node, sink);
    sink.write_byte(field.required ? 1 : 0);
  }
}

}  // namespace

void hash_node(const SchemaNode& node, HashSink& sink) {
  sink.write_word(static_cast<std::uint64_t>(node.kind));
  switch (node.kind) {
    case NodeKind::Anything:
    case NodeKind::Any:
    case NodeKind::Nothing:
    case NodeKind::None:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes:
      return;
    case NodeKind::Literal:
    case NodeKind::Instance:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      sink.write_word(node.word);
      return;
    case NodeKind::Sequence:
      sink.write_word(static_cast<std::uint64_t>(node.seq_kind));
      hash_pattern(node.seq_pattern(), sink);
      return;
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Complement:
      hash_node(node.children.front(), sink);
      return;
    case NodeKind::Record:
      hash_fields(node.fields, sink);
      sink.write_word(node.extras.size());
      for (const ExtrasPair& pair : node.extras) {
        hash_node(pair.key, sink);
        hash_node(pair.value, sink);
      }
      return;
    case NodeKind::Union:
    case NodeKind::Intersection:
      sink.write_word(node.children.size());
      for (const SchemaNode& member : node.children) hash_node(member, sink);
      return;
    case NodeKind::Object:
      sink.write_word(node.word);
      hash_fields(node.fields, sink);
      return;
    case NodeKind::Refined:
      hash_node(node.base(), sink);
      sink.write_word(node.constraints.size());
      for (const Constraint& constraint : node.constraints) {
        sink.write_word(static_cast<std::uint64_t>(constraint.kind));
        if (constraint.kind == ConstraintKind::Regex) {
          sink.write_text(constraint.pattern_text);
        } else {
          sink.write_word(constraint.word);
        }
      }
      return;
  }
}

void hash_pattern(const SeqPattern& pattern, HashSink& sink) {
  sink.write_word(static_cast<std::uint64_t>(pattern.kind));
  switch (pattern.kind) {
    case PatternKind::Empty:
      return;
    case PatternKind::Item:
      hash_node(pattern.item_node(), sink);
      return;
    case PatternKind::Concat:
    case PatternKind::Alt:
      sink.write_word(pattern.parts.size());
      for (const SeqPattern& part : pattern.parts) hash_pattern(part, sink);
      return;
    case PatternKind::Star:
      hash_pattern(pattern.star_inner(), sink);
      return;
  }
}

}  // namespace quillmar::core
