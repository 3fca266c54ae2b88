// Runs an action when a scope is left, normally or by a failure: the
// clean-up half of a protected region.
#pragma once

#include <utility>

template <class F>
class TScopeExit {
 public:
  explicit TScopeExit(F Action) : FAction(std::move(Action)) {}
  ~TScopeExit() { FAction(); }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;

 private:
  F FAction;
};
template <class F>
TScopeExit(F) -> TScopeExit<F>;
