#pragma once
// Test help for the setup utility's windows (Qt Test and the end-to-end test).
#include <QApplication>
#include <QTimer>
#include <functional>

namespace qz381::setup::gui {

// Runs `act` on the first modal window of type T to open (from inside its
// exec), as a user in front of it would.
template <typename T>
void WhenModal(std::function<void(T*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    if (auto* window = dynamic_cast<T*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      act(window);
    }
  });
  timer->start();
}

}  // namespace qz381::setup::gui
