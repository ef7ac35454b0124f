#include "check/walk/memoised_ref.hpp"

namespace quillmar::ext {

std::vector<ErrorItem> relative_items(const ErrorList& errors, std::size_t first, std::size_t base_depth) {
  std::vector<ErrorItem> items;
  items.reserve(errors.size() - first);
  for (std::size_t i = first; i < errors.size(); ++i) {
    const ErrorItem& item = errors[i];
    Path below(item.path.begin() + static_cast<std::ptrdiff_t>(base_depth), item.path.end());
    items.push_back(ErrorItem{std::move(below), item.expected, item.value, item.code});
  }
  return items;
}

void replay_items(const std::vector<ErrorItem>& items, const Path& path, ErrorList& errors) {
  for (const ErrorItem& item : items) {
    Path full;
    full.reserve(path.size() + item.path.size());
    full.insert(full.end(), path.begin(), path.end());
    full.insert(full.end(), item.path.begin(), item.path.end());
    errors.push_back(ErrorItem{std::move(full), item.expected, item.value, item.code});
  }
}

MemoMode memo_mode(WalkContext ctx, const ErrorList& errors) {
  switch (ctx.mode) {
    case WalkMode::BooleanOnly:
      return MemoMode::BooleanOnly;
    case WalkMode::CollectAll:
      return MemoMode::CollectAll;
    case WalkMode::FailFast:
      return errors.empty() ? MemoMode::FailFastClean : MemoMode::FailFastAfterItem;
  }
  return MemoMode::BooleanOnly;
}

}  // namespace quillmar::ext
