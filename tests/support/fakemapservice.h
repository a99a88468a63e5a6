#pragma once

#include "qtprint.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTcpServer>

#include <deque>
#include <functional>

class QTcpSocket;

namespace testsupport {

// How the fake service answers one request.
struct FakeReply {
    enum class Kind {
        Body,     // status and body, then the connection stays open for the next request
        CutShort, // announces the whole body, sends half of it and closes the connection
        Slow,     // sends half of the body, the rest after delayMs
        Never,    // reads the request and never answers
        Unframed, // announces no length, sends half of the body and closes the connection
        Trickle,  // sends the body a byte every delayMs
        Asked,    // a GIF of the size the request asks for ("Size=W,H")
    };
    Kind kind = Kind::Body;
    int status = 200;
    QByteArray body;
    int delayMs = 0;
    QByteArray contentType = "image/gif";
    QByteArray location; // sent as the Location header when not empty

    // A GIF of one colour: a few kilobytes even at 1999 x 1999 pixels.
    static FakeReply flatGif(int width, int height);
    static FakeReply redirect(QByteArray to)
    {
        return make(Kind::Body, 302, {}, 0, "text/html", std::move(to));
    }
    static FakeReply trickle(QByteArray body, int delayMs)
    {
        return make(Kind::Trickle, 200, std::move(body), delayMs);
    }

    static FakeReply make(Kind kind, int status, QByteArray body, int delayMs,
                          QByteArray contentType = "image/gif", QByteArray location = {})
    {
        FakeReply reply;
        reply.kind = kind;
        reply.status = status;
        reply.body = std::move(body);
        reply.delayMs = delayMs;
        reply.contentType = std::move(contentType);
        reply.location = std::move(location);
        return reply;
    }
    static FakeReply gif(int width, int height);
    static FakeReply asked() { return make(Kind::Asked, 200, {}, 0); }
    static FakeReply bytes(QByteArray body) { return make(Kind::Body, 200, std::move(body), 0); }
    static FakeReply error(int status) { return make(Kind::Body, status, "<html>error</html>", 0); }
    static FakeReply cutShort(QByteArray body)
    {
        return make(Kind::CutShort, 200, std::move(body), 0);
    }
    static FakeReply slow(QByteArray body, int delayMs)
    {
        return make(Kind::Slow, 200, std::move(body), delayMs);
    }
    static FakeReply never() { return make(Kind::Never, 200, {}, 0); }
    static FakeReply unframedHalf(QByteArray body)
    {
        return make(Kind::Unframed, 200, std::move(body), 0);
    }
    static FakeReply html() { return make(Kind::Body, 200, "<html>busy</html>", 0, "text/html"); }
};

// An HTTP map service for tests on 127.0.0.1, port chosen by the system. It runs on the test's
// own thread: the fetch's local event loop serves it. Requests are answered with the queued
// replies in order, then with the default reply.
class FakeMapService : public QObject {
    Q_OBJECT
public:
    explicit FakeMapService(FakeReply defaultReply = FakeReply::asked());
    ~FakeMapService() override;

    // "127.0.0.1:<port>", the form the downloader takes as its service address.
    QString address() const;

    void enqueue(FakeReply reply) { queue_.push_back(std::move(reply)); }
    void setDefault(FakeReply reply) { default_ = std::move(reply); }
    // Sent as the Map-Source header of every 2xx answer; none when empty.
    void setSource(QByteArray source) { source_ = std::move(source); }

    // Request lines as received, e.g. "GET /pub/agent.dll?qscr=... HTTP/1.1".
    const QStringList& requests() const { return requests_; }
    // The query of each request, percent-decoded.
    QStringList decodedQueries() const;
    int connectionCount() const { return connections_; }
    // The most requests that were at once received and not yet answered in full.
    int mostInFlight() const { return mostInFlight_; }

    // Runs when a request has arrived, before it is answered, with its number from 1.
    std::function<void(int)> onRequest;

private:
    void accept();
    void readFrom(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const FakeReply& reply);
    QByteArray source_;

    QTcpServer server_;
    FakeReply default_;
    std::deque<FakeReply> queue_;
    QStringList requests_;
    QHash<QTcpSocket*, QByteArray> pending_;
    int connections_ = 0;
    int inFlight_ = 0;
    int mostInFlight_ = 0;
};

} // namespace testsupport
