#include "check/walk/check_memo.hpp"

#include <unordered_map>

namespace quillmar::ext {

namespace {

struct PlaceHash {
  std::size_t operator()(const CheckMemo::Place& place) const {
    std::uint64_t h = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(place.identity));
    h ^= (place.schema << 2 | static_cast<std::uint64_t>(place.mode)) * 0x9E3779B97F4A7C15ull;
    h ^= (static_cast<std::uint64_t>(place.on_value) << 16 | place.budget) * 0xD6E8FEB86659FD93ull;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    return static_cast<std::size_t>(h ^ (h >> 32));
  }
};

struct SetHash {
  std::size_t operator()(const std::pair<std::uint64_t, std::uint64_t>& set) const {
    std::uint64_t h = set.first * 0x9E3779B97F4A7C15ull ^ set.second * 0xD6E8FEB86659FD93ull;
    return static_cast<std::size_t>(h ^ (h >> 31));
  }
};

}  // namespace

struct CheckMemo::Table {
  std::unordered_map<Place, Outcome, PlaceHash> outcomes;
  std::vector<PyRef> held;
  std::unordered_map<std::pair<std::uint64_t, std::uint64_t>, std::uint32_t, SetHash> on_value_sets;
};

CheckMemo::CheckMemo() = default;
CheckMemo::~CheckMemo() = default;

const CheckMemo::Outcome* CheckMemo::find(const Place& place) const {
  if (!table_) return nullptr;
  auto found = table_->outcomes.find(place);
  return found == table_->outcomes.end() ? nullptr : &found->second;
}

void CheckMemo::store(const Place& place, PyObject* held, Outcome outcome) {
  if (!table_) table_ = std::make_unique<Table>();
  if (place.budget != ANY_BUDGET) keeps_budgeted_ = true;
  if (place.on_value != ANY_ON_VALUE) keeps_on_value_ = true;
  auto [at, added] = table_->outcomes.try_emplace(place, std::move(outcome));
  if (added && held) table_->held.push_back(PyRef::borrow(held));
}

std::uint32_t CheckMemo::on_value_index(const RecursionGuard::DefinitionSet& definitions) {
  if (!table_) table_ = std::make_unique<Table>();
  auto& sets = table_->on_value_sets;
  return sets.try_emplace({definitions.low, definitions.high}, static_cast<std::uint32_t>(sets.size() + 1))
      .first->second;
}

std::optional<std::uint32_t> CheckMemo::known_on_value(const RecursionGuard::DefinitionSet& definitions) const {
  if (!table_) return std::nullopt;
  auto found = table_->on_value_sets.find({definitions.low, definitions.high});
  if (found == table_->on_value_sets.end()) return std::nullopt;
  return found->second;
}

}  // namespace quillmar::ext
