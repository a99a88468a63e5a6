#include "fakemapservice.h"

#include "gifmaker.h"

#include <QPointer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <stdexcept>

namespace testsupport {

FakeReply FakeReply::gif(int width, int height)
{
    return bytes(makeGif(width, height));
}

FakeReply FakeReply::flatGif(int width, int height)
{
    return bytes(makeFlatGif(width, height));
}

FakeMapService::FakeMapService(FakeReply defaultReply) : default_(std::move(defaultReply))
{
    if (!server_.listen(QHostAddress::LocalHost, 0)) {
        throw std::runtime_error("fake map service cannot listen");
    }
    connect(&server_, &QTcpServer::newConnection, this, &FakeMapService::accept);
}

FakeMapService::~FakeMapService()
{
    // Sockets are children of the server, which outlives the members their handlers use.
    for (QTcpSocket* socket : server_.findChildren<QTcpSocket*>()) {
        socket->disconnect(this);
        delete socket;
    }
    server_.close();
}

QString FakeMapService::address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(server_.serverPort());
}

QStringList FakeMapService::decodedQueries() const
{
    QStringList out;
    for (const QString& line : requests_) {
        const QString target = line.section(u' ', 1, 1);
        out.append(QUrl::fromPercentEncoding(target.section(u'?', 1).toLatin1()));
    }
    return out;
}

void FakeMapService::accept()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        ++connections_;
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            pending_.remove(socket);
            socket->deleteLater();
        });
    }
}

void FakeMapService::readFrom(QTcpSocket* socket)
{
    QByteArray& buffer = pending_[socket];
    buffer += socket->readAll();
    for (qsizetype end = buffer.indexOf("\r\n\r\n"); end >= 0; end = buffer.indexOf("\r\n\r\n")) {
        const QByteArray head = buffer.left(end);
        buffer.remove(0, end + 4);
        requests_.append(QString::fromLatin1(head.left(head.indexOf("\r\n"))));
        mostInFlight_ = std::max(mostInFlight_, ++inFlight_);
        if (onRequest) {
            onRequest(static_cast<int>(requests_.size()));
        }
        FakeReply reply = default_;
        if (!queue_.empty()) {
            reply = std::move(queue_.front());
            queue_.pop_front();
        }
        if (reply.kind == FakeReply::Kind::Asked) {
            static const QRegularExpression size(QStringLiteral("Size=([0-9]+),([0-9]+)"));
            const QRegularExpressionMatch m = size.match(decodedQueries().back());
            const int width = m.hasMatch() ? m.captured(1).toInt() : 320;
            const int height = m.hasMatch() ? m.captured(2).toInt() : 320;
            // A preview must weigh 3000 bytes to count as a map: a patterned one does; larger
            // pictures are of one colour, so that they stay small.
            reply = FakeReply::bytes(width * height <= 320 * 320 ? makeGif(width, height)
                                                                 : makeFlatGif(width, height));
        }
        answer(socket, reply);
    }
}

void FakeMapService::answer(QTcpSocket* socket, const FakeReply& reply)
{
    if (reply.kind == FakeReply::Kind::Never) {
        return;
    }
    const QByteArray length = reply.kind == FakeReply::Kind::Unframed
                                  ? QByteArray("Connection: close")
                                  : "Content-Length: " + QByteArray::number(reply.body.size()) +
                                        "\r\nConnection: keep-alive";
    const QByteArray head =
        "HTTP/1.1 " + QByteArray::number(reply.status) +
        (reply.status / 100 == 2 ? " OK" : " Error") + "\r\nContent-Type: " + reply.contentType +
        "\r\n" +
        (reply.location.isEmpty() ? QByteArray() : "Location: " + reply.location + "\r\n") +
        (source_.isEmpty() || reply.status / 100 != 2 ? QByteArray()
                                                      : "Map-Source: " + source_ + "\r\n") +
        length + "\r\n\r\n";
    const QByteArray half = reply.body.left(reply.body.size() / 2);
    switch (reply.kind) {
    case FakeReply::Kind::Body:
        socket->write(head + reply.body);
        --inFlight_;
        break;
    case FakeReply::Kind::CutShort:
    case FakeReply::Kind::Unframed:
        socket->write(head + half);
        socket->flush();
        socket->disconnectFromHost();
        --inFlight_;
        break;
    case FakeReply::Kind::Slow: {
        socket->write(head + half);
        socket->flush();
        QPointer<QTcpSocket> guarded(socket);
        const QByteArray rest = reply.body.mid(half.size());
        QTimer::singleShot(reply.delayMs, this, [this, guarded, rest] {
            --inFlight_;
            if (guarded) {
                guarded->write(rest);
            }
        });
        break;
    }
    case FakeReply::Kind::Trickle: {
        socket->write(head);
        QPointer<QTcpSocket> guarded(socket);
        auto* timer = new QTimer(socket);
        QObject::connect(timer, &QTimer::timeout, timer,
                         [this, guarded, timer, body = reply.body, sent = qsizetype{0}]() mutable {
                             if (!guarded || sent >= body.size()) {
                                 --inFlight_;
                                 timer->stop();
                                 return;
                             }
                             guarded->write(body.mid(sent++, 1));
                         });
        timer->start(reply.delayMs);
        break;
    }
    case FakeReply::Kind::Never:
    case FakeReply::Kind::Asked: // made a picture on arrival
        break;
    }
}

} // namespace testsupport
