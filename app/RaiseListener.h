// The running instance's side of the second start: it listens on the raise
// socket (SingleInstance.h) and brings its window to the front on every
// connection. Only the lock's holder listens, so a socket file found there
// is a stale one of a crashed run and is replaced.
#pragma once

#include <QObject>

#include <functional>
#include <string>

class QLocalServer;

namespace pendra::app {

class RaiseListener : public QObject {
 public:
  RaiseListener(const std::string& socketPath, std::function<void()> raise);
  bool Listening() const;

 private:
  QLocalServer* server_ = nullptr;
  std::function<void()> raise_;
};

}  // namespace pendra::app
