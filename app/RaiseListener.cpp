#include "RaiseListener.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace pendra::app {

RaiseListener::RaiseListener(const std::string& socketPath, std::function<void()> raise)
    : raise_(std::move(raise)) {
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  const QString path = QString::fromStdString(socketPath);
  QLocalServer::removeServer(path);
  if (!server_->listen(path)) return;  // the program runs on; a second start then just ends
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      socket->disconnectFromServer();
      if (raise_) raise_();
    }
  });
}

bool RaiseListener::Listening() const { return server_->isListening(); }

}  // namespace pendra::app
