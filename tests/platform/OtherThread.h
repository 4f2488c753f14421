#pragma once
// Runs `f` on another thread while this one keeps the event loop going, as a second process
// would talk to this one.
#include <QApplication>
#include <chrono>
#include <future>

template <class F>
auto FromOtherThread(F f) {
  auto fut = std::async(std::launch::async, f);
  while (fut.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) QApplication::processEvents();
  return fut.get();
}
