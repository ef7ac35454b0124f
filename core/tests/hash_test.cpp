#include <gtest/gtest.h>

#include <string_view>

#include "quillmar/core/hash.hpp"
#include "trees.hpp"

namespace quillmar::core {
namespace {

using namespace testing;

struct StreamCase {
  const char* name;
  SchemaNode node;
  Stream expected;
};

std::vector<StreamCase> stream_cases() {
  std::vector<StreamCase> cases;
  // Streams worked out by hand.
  cases.push_back({"int", int_(), Stream().word(5)});
  cases.push_back({"list_of_int", list_of(int_()), Stream().words({10, 0, 4, 1, 5})});
  cases.push_back({"record_one_field", record(vec({field("a", int_())})),
                   Stream().words({13, 1}).byte(0x61).byte(0xFF).word(5).byte(1).word(0)});
  cases.push_back({"refined_ge", refined(int_(), {Constraint::ge(3)}), Stream().words({19, 5, 1, 0, 3})});
  cases.push_back({"union_none_str", union_of(vec({none(), str()})), Stream().words({14, 2, 3, 7})});
  // Every other kind and unit.
  cases.push_back({"literal", SchemaNode::literal(0x0102030405060708), Stream().words({9, 0x0102030405060708})});
  cases.push_back({"tuple_concat", tuple_of({int_(), str()}), Stream().words({10, 1, 2, 2, 1, 5, 1, 7})});
  cases.push_back({"alt_empty_item", SchemaNode::sequence(SeqKind::List, alt(vec({SeqPattern::empty(), item(none())}))),
                   Stream().words({10, 0, 3, 2, 0, 1, 3})});
  cases.push_back({"set", SchemaNode::set(bytes()), Stream().words({11, 8})});
  cases.push_back({"frozenset", SchemaNode::frozen_set(float_()), Stream().words({12, 6})});
  cases.push_back({"dict", dict_of(str(), int_()), Stream().words({13, 0, 1, 7, 5})});
  cases.push_back({"record_optional_and_extras", record(vec({field("ab", any(), false)}), vec({pair(str(), anything())})),
                   Stream().words({13, 1}).text("ab").word(1).byte(0).words({1, 7, 0})});
  cases.push_back({"intersection_empty", intersection_of({}), Stream().words({15, 0})});
  cases.push_back({"complement", SchemaNode::complement(nothing()), Stream().words({16, 2})});
  cases.push_back({"instance", SchemaNode::instance(7), Stream().words({17, 7})});
  cases.push_back({"object", SchemaNode::object(4, vec({field("x", boolean())})),
                   Stream().words({18, 4, 1}).text("x").word(4).byte(1)});
  cases.push_back({"object_no_fields", SchemaNode::object(4, {}), Stream().words({18, 4, 0})});
  cases.push_back({"refined_every_constraint",
                   refined(str(), {Constraint::gt(1), Constraint::le(2), Constraint::lt(3), Constraint::min_len(4),
                                   Constraint::max_len(5), Constraint::multiple_of(6), Constraint::predicate(7),
                                   Constraint::regex("\xc3\xa9+")}),
                   Stream()
                       .words({19, 7, 8, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8})
                       .byte(0xC3)
                       .byte(0xA9)
                       .byte('+')
                       .byte(0xFF)});
  cases.push_back({"ref", SchemaNode::ref(2), Stream().words({20, 2})});
  cases.push_back({"placeholder", SchemaNode::placeholder(~std::uint64_t{0}), Stream().words({21, ~std::uint64_t{0}})});
  return cases;
}

TEST(HashNode, StreamsByteForByte) {
  for (const StreamCase& c : stream_cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(stream_of(c.node), c.expected.bytes);
  }
}

TEST(HashNode, PayloadFreeKindsWriteOnlyTheirIndex) {
  for (std::uint64_t k = 0; k <= static_cast<std::uint64_t>(NodeKind::Bytes); ++k) {
    EXPECT_EQ(stream_of(SchemaNode::leaf(static_cast<NodeKind>(k))), Stream().word(k).bytes);
  }
}

TEST(HashNode, WordsAreLittleEndian) {
  const std::vector<std::uint8_t> bytes = stream_of(SchemaNode::literal(0x0102030405060708));
  const std::vector<std::uint8_t> expected = {9, 0, 0, 0, 0, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1};
  EXPECT_EQ(bytes, expected);
}

TEST(HashPattern, Streams) {
  EXPECT_EQ(stream_of(SeqPattern::empty()), Stream().word(0).bytes);
  EXPECT_EQ(stream_of(item(int_())), Stream().words({1, 5}).bytes);
  EXPECT_EQ(stream_of(concat({})), Stream().words({2, 0}).bytes);
  EXPECT_EQ(stream_of(alt({})), Stream().words({3, 0}).bytes);
  EXPECT_EQ(stream_of(star(star(item(str())))), Stream().words({4, 4, 1, 7}).bytes);
}

TEST(HashNode, KeyAbDiffersFromKeysAAndB) {
  EXPECT_NE(stream_of(record(vec({field("ab", int_())}))), stream_of(record(vec({field("a", int_()), field("b", int_())}))));
}

TEST(HashNode, MemberOrderMatters) {
  EXPECT_NE(stream_of(union_of(vec({int_(), str()}))), stream_of(union_of(vec({str(), int_()}))));
}

std::span<const std::uint8_t> as_bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

struct SipVector {
  std::string_view input;
  std::uint64_t expected;
};

// CPython 3.13 hash() of these bytes under PYTHONHASHSEED=0 (siphash13, keys 0).
const SipVector kSipVectors[] = {
    {"a", 4644417185603328019ULL},
    {"abc", 13851880170939887858ULL},
    {"abcdefgh", 4574395652268504554ULL},
    {"abcdefghijklmnopq", 7044894726457044172ULL},
};

TEST(SipHasher13, Vectors) {
  for (const SipVector& v : kSipVectors) {
    SCOPED_TRACE(v.input);
    SipHasher13 hasher;
    hasher.write(as_bytes(v.input));
    EXPECT_EQ(hasher.finish(), v.expected);
  }
}

TEST(SipHasher13, EverySplitGivesTheSameResult) {
  for (const SipVector& v : kSipVectors) {
    SCOPED_TRACE(v.input);
    // One byte at a time, and every two-way and three-way split.
    SipHasher13 bytewise;
    for (std::size_t i = 0; i < v.input.size(); ++i) bytewise.write(as_bytes(v.input.substr(i, 1)));
    EXPECT_EQ(bytewise.finish(), v.expected);
    for (std::size_t i = 0; i <= v.input.size(); ++i) {
      for (std::size_t j = i; j <= v.input.size(); ++j) {
        SipHasher13 split;
        split.write(as_bytes(v.input.substr(0, i)));
        split.write(as_bytes(v.input.substr(i, j - i)));
        split.write({});
        split.write(as_bytes(v.input.substr(j)));
        EXPECT_EQ(split.finish(), v.expected) << i << "," << j;
      }
    }
  }
}

TEST(SipHasher13, FinishDoesNotDisturbTheState) {
  SipHasher13 hasher;
  hasher.write(as_bytes("abc"));
  const std::uint64_t first = hasher.finish();
  EXPECT_EQ(hasher.finish(), first);
  hasher.write(as_bytes("defghijklmnopq"));
  EXPECT_EQ(hasher.finish(), 7044894726457044172ULL);
}

// hash() in CPython 3.13 under PYTHONHASHSEED=0 of the worked streams' bytes.
TEST(SipHasher13, WorkedStreamsHashAsPythonDoes) {
  SipHasher13 list_hasher;
  hash_node(list_of(int_()), list_hasher);
  EXPECT_EQ(list_hasher.finish(), 4839160062184710558ULL);
  SipHasher13 record_hasher;
  hash_node(record(vec({field("a", int_())})), record_hasher);
  EXPECT_EQ(record_hasher.finish(), 8179540014223346407ULL);
}

// The SipHash-1-3 reference vectors: key bytes 00..0f, message bytes 00..n-1.
// They pin where each key word enters and every tail length, the empty one included.
TEST(SipHasher13, KeyedReferenceVectors) {
  const struct {
    std::size_t length;
    std::uint64_t expected;
  } cases[] = {
      {0, 0xabac0158050fc4dcULL}, {1, 0xc9f49bf37d57ca93ULL},  {7, 0xd3927d989bb11140ULL},
      {8, 0x369095118d299a8eULL}, {15, 0xd320d86d2a519956ULL}, {63, 0x9d199062b7bbb3a8ULL},
  };
  std::vector<std::uint8_t> message(64);
  for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<std::uint8_t>(i);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    const std::span<const std::uint8_t> bytes(message.data(), c.length);
    SipHasher13 hasher(0x0706050403020100ULL, 0x0f0e0d0c0b0a0908ULL);
    hasher.write(bytes);
    EXPECT_EQ(hasher.finish(), c.expected);
    EXPECT_EQ(sip_hash13(bytes, 0x0706050403020100ULL, 0x0f0e0d0c0b0a0908ULL), c.expected);
  }
}

// Only the low byte of the length enters the last block.
TEST(SipHasher13, MessageLongerThan255Bytes) {
  std::vector<std::uint8_t> message(300);
  for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<std::uint8_t>(i % 251);
  SipHasher13 hasher;
  hasher.write(message);
  // hash() in CPython 3.13 of the same bytes under PYTHONHASHSEED=0.
  EXPECT_EQ(hasher.finish(), 4632014711632435302ULL);
  EXPECT_EQ(sip_hash13(message, 0, 0), 4632014711632435302ULL);
}

TEST(SipHasher13, HashNodeFeedsTheStream) {
  // The hasher sees exactly the recorded stream, whatever the split.
  const SchemaNode node = record(vec({field("a", list_of(int_()))}), vec({pair(str(), refined(str(), {Constraint::regex("x")}))}));
  const std::vector<std::uint8_t> stream = stream_of(node);
  SipHasher13 direct;
  hash_node(node, direct);
  SipHasher13 whole;
  whole.write(stream);
  EXPECT_EQ(direct.finish(), whole.finish());
}

}  // namespace
}  // namespace quillmar::core
