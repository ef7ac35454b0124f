// The structural hash stream of a schema tree, and the SipHash-1-3 hasher
// (both keys zero) that the validator hash feeds it into; keyed, it also
// hashes texts that input chooses.
//
// Units of the stream, little-endian: a word is 8 bytes; a text is its UTF-8
// bytes then 0xFF; a vector is its count as a word, then its elements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "quillmar/core/node.hpp"

namespace quillmar::core {

// Receives the stream. The result of a hasher depends only on the
// concatenation of the bytes written, never on how they were split.
class HashSink {
 public:
  virtual ~HashSink() = default;
  virtual void write(std::span<const std::uint8_t> bytes) = 0;

  void write_word(std::uint64_t word);
  void write_byte(std::uint8_t byte);
  void write_text(std::string_view text);
};

class SipHasher13 final : public HashSink {
 public:
  SipHasher13(std::uint64_t k0 = 0, std::uint64_t k1 = 0);
  void write(std::span<const std::uint8_t> bytes) override;
  std::uint64_t finish() const;

 private:
  void compress(std::uint64_t m);

  std::uint64_t v0_, v1_, v2_, v3_;
  std::uint64_t tail_ = 0;     // pending bytes, little-endian
  std::size_t tail_len_ = 0;   // how many bytes of tail_ are pending
  std::uint64_t length_ = 0;   // total bytes written
};

// The same hash of one whole message in a single pass: what a SipHasher13
// with this key gives after writing just these bytes.
std::uint64_t sip_hash13(std::span<const std::uint8_t> bytes, std::uint64_t k0, std::uint64_t k1);

void hash_node(const SchemaNode& node, HashSink& sink);
void hash_pattern(const SeqPattern& pattern, HashSink& sink);

}  // namespace quillmar::core
