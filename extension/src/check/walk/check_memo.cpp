#include "check/walk/check_memo.hpp"

#include <unordered_map>

namespace quillmar::ext {

namespace {

struct Key {
  std::uint64_t definition;
  const void* identity;
  MemoMode mode;
  std::uint64_t context;

  bool operator==(const Key&) const = default;
};

struct KeyHash {
  std::size_t operator()(const Key& key) const {
    std::uint64_t h = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(key.identity));
    h ^= (key.definition << 2 | static_cast<std::uint64_t>(key.mode)) * 0x9E3779B97F4A7C15ull;
    h ^= key.context * 0xD6E8FEB86659FD93ull;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    return static_cast<std::size_t>(h ^ (h >> 32));
  }
};

}  // namespace

struct CheckMemo::Table {
  std::unordered_map<Key, Outcome, KeyHash> outcomes;
  std::vector<PyRef> held;
};

CheckMemo::CheckMemo() = default;
CheckMemo::~CheckMemo() = default;

const CheckMemo::Outcome* CheckMemo::find(std::uint64_t definition, const void* identity, MemoMode mode,
                                          std::uint64_t context) const {
  if (!table_) return nullptr;
  auto found = table_->outcomes.find(Key{definition, identity, mode, context});
  return found == table_->outcomes.end() ? nullptr : &found->second;
}

void CheckMemo::store(std::uint64_t definition, const void* identity, PyObject* held, MemoMode mode,
                      std::uint64_t context, Outcome outcome) {
  if (!table_) table_ = std::make_unique<Table>();
  auto [at, added] = table_->outcomes.try_emplace(Key{definition, identity, mode, context}, std::move(outcome));
  if (added && held) table_->held.push_back(PyRef::borrow(held));
}

}  // namespace quillmar::ext
