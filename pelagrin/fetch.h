#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QString>

namespace common {
class AtomicFile;
}

namespace pelagrin {

// The downloader's only contact with the network. One Fetcher per window, so connections to
// the map service are reused from one request to the next.
class Fetcher {
public:
    static constexpr int defaultTransferTimeoutMs = 60'000;

    // |transferTimeoutMs|: a transfer that receives nothing for this long fails.
    explicit Fetcher(int transferTimeoutMs = defaultTransferTimeoutMs);

    // Fetches |urladdy| and writes the body, unchanged and nothing else, to the file
    // |wheretobmp| (relative to the working directory; its folder must exist). The body
    // replaces |imagebytes| as soon as it has arrived, before the file is written.
    //
    // While it waits for the service it runs a local event loop, so the window stays alive
    // and a button pressed meanwhile runs its handler inside this call.
    //
    // The file is replaced atomically: after any failure it is exactly as it was before.
    // Throws common::Failure when the service cannot be reached, does not answer in time,
    // answers with a status other than 2xx or cuts the body short, or when the file cannot
    // be written.
    void download(const QString& urladdy, const QString& wheretobmp, QByteArray& imagebytes);

private:
    // The body of |urladdy|, also written to |file| as it arrives when there is one.
    QByteArray receive(const QString& urladdy, common::AtomicFile* file);

    QNetworkAccessManager manager_;
    int transferTimeoutMs_;
};

} // namespace pelagrin
