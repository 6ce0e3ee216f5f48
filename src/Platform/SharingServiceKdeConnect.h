#pragma once

#include "SharingService.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QString>
#include <QStringList>

namespace Platform {

// Nearby-device sharing through KDE Connect's command-line tool. Available while the tool
// exists and reaches at least one paired device; items go to the first device it lists.
// The device probe is time-limited and keeps the event loop (and so the clipboard we may own)
// answering; transfers are started detached and never waited for.
class KdeConnectSharingService final : public SharingService
{
public:
    explicit KdeConnectSharingService(QString program = QStringLiteral("kdeconnect-cli"), int probeTimeoutMs = 2000);

    bool isAvailable() const override;
    // Not installed while the tool is not found (on PATH, or at the path given); that is known
    // without starting it.
    Availability availability() const override;
    bool perform(const QList<PasteboardObject>& items) override;

    // The ids of the reachable devices, in the tool's order; empty when the tool is missing,
    // fails or does not answer in time. A fresh answer is reused for a few seconds, so that
    // isAvailable() followed by perform() asks only once. Safe to call from any thread.
    QStringList reachableDevices() const;

    // The folder images are written to before they are sent: "<cache folder>/Quillomare/SharedImages",
    // this user's alone; empty when there is no cache folder.
    static QString imageFolder();

private:
    // The tool's full path; empty when it is not there or cannot be run.
    QString executable() const;
    QStringList probeDevices() const;
    static std::optional<QString> writeImageFile(const QImage& image);

    QString m_program;
    int m_probeTimeoutMs;
    // Guards the answer only, never a probe: a caller on the GUI thread must not wait for a
    // worker's probe.
    mutable QMutex m_answerMutex;
    mutable QStringList m_devices;
    mutable QElapsedTimer m_probedAt;
};

} // namespace Platform
