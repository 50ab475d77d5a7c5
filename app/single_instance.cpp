#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#include <unistd.h>

namespace mistvale {

namespace {

constexpr int kAnswerMs = 2000;
const QByteArray kRaise = "raise\n";
const QByteArray kRaised = "ok\n";

} // namespace

SingleInstance::SingleInstance() = default;

SingleInstance::~SingleInstance() {
    if (server_)
        server_->close();
    if (lock_)
        lock_->unlock();
}

QString SingleInstance::ServerName(const std::string& treePath) {
    const QString absolute = QFileInfo(QString::fromStdString(treePath)).absoluteFilePath();
    const QByteArray hash =
        QCryptographicHash::hash(absolute.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QStringLiteral("mistvale-%1-%2")
        .arg(static_cast<qulonglong>(getuid()))
        .arg(QString::fromLatin1(hash));
}

SingleInstance::Claim SingleInstance::ClaimTree(const std::string& treePath) {
    const QString tree = QString::fromStdString(treePath);
    QDir().mkpath(QFileInfo(tree).absolutePath());
    lock_ = std::make_unique<QLockFile>(tree + QStringLiteral(".lock"));
    // Held as long as the program runs, however long that is; a lock whose program is gone is stale.
    lock_->setStaleLockTime(0);
    const QString name = ServerName(treePath);
    if (lock_->tryLock(0)) {
        server_ = std::make_unique<QLocalServer>();
        server_->setSocketOptions(QLocalServer::UserAccessOption);
        // A socket left by a program that was killed would keep the name taken.
        QLocalServer::removeServer(name);
        if (server_->listen(name))
            QObject::connect(server_.get(), &QLocalServer::newConnection, [this] { Serve(); });
        return Claim::Owned;
    }
    QLocalSocket socket;
    socket.connectToServer(name);
    if (socket.waitForConnected(kAnswerMs)) {
        socket.write(kRaise);
        if (socket.waitForBytesWritten(kAnswerMs)) {
            QByteArray answer;
            while (!answer.endsWith('\n') && socket.waitForReadyRead(kAnswerMs))
                answer += socket.readAll();
            if (answer == kRaised)
                return Claim::RaisedOther;
        }
    }
    return Claim::Unreachable;
}

void SingleInstance::Serve() {
    while (QLocalSocket* client = server_->nextPendingConnection()) {
        QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        auto answer = [this, client] {
            if (!client->canReadLine())
                return;
            if (client->readLine() == kRaise) {
                if (raise_)
                    raise_();
                client->write(kRaised);
                client->flush();
            }
            client->disconnectFromServer();
        };
        QObject::connect(client, &QLocalSocket::readyRead, client, answer);
        answer(); // the request may have come with the connection
    }
}

} // namespace mistvale
