#pragma once

// Developer probes: each builds the island or preview pieces it needs (no application delegate, no
// clipboard monitor, no takeover), drives them with real events on the main queue and prints one
// line per finding, "<probeName> <finding>=<value>", then "<probeName>=pass" or "=fail". The
// process exits 0 on a pass and 1 on a failure; a probe whose steps never finish fails after a
// bound instead of hanging.

#include "Shell/CommandLine.h"

#include <QString>

#include <functional>

namespace QuillomareMac::UserInterfaceProbe {

// The state of one running probe. It lives for the whole event loop of the probe.
class Probe
{
public:
    explicit Probe(QString name);

    const QString& name() const { return m_name; }

    // One finding line. The bool form prints true or false and decides nothing.
    void report(const QString& finding, const QString& value);
    void report(const QString& finding, bool value);
    void report(const QString& finding, qint64 value);
    void report(const QString& finding, double value);
    // A finding that must hold: printed as true or false; a false one fails the probe. Returns
    // `holds` so that a step can stop early.
    bool expect(const QString& finding, bool holds);
    // A failure with its reason.
    void fail(const QString& finding, const QString& value);

    bool passed() const { return m_passed; }
    bool isFinished() const { return m_finished; }
    // Prints the verdict and ends the event loop with 0 or 1; later calls do nothing.
    void finish();
    int status() const { return m_passed ? CommandLine::kSuccess : CommandLine::kFailure; }

    // Runs `step` on the main queue after `milliseconds`, unless the probe has finished by then.
    void after(int milliseconds, std::function<void()> step);

private:
    void print(const QString& line);

    QString m_name;
    bool m_passed = true;
    bool m_finished = false;
};

// The name a mode's probe prints: "--anim-probe" prints as animProbe.
QString probeName(CommandLine::DeveloperMode mode);

// Creates the application object, starts the mode's probe and runs the event loop until the probe
// finishes (the pan-gate probe finishes inside its entry). Returns the exit status.
int run(CommandLine::DeveloperMode mode, int& argc, char** argv);

// The entries. Each schedules its steps with `probe.after` and ends with `probe.finish()`.
// The island's own motion and stages.
void animProbe(Probe& probe);
void collapseProbe(Probe& probe);
void echoRetractProbe(Probe& probe);
void stageProbe(Probe& probe);
// The quick preview and Live Text.
void quickPreviewProbe(Probe& probe);
void liveTextProbe(Probe& probe);
void liveTextPanGateProbe(Probe& probe);
void liveTextZoomProbe(Probe& probe);
void liveTextCopyAllProbe(Probe& probe);
// The history rows, the list's scroll fallback and the shelf gallery.
void historyRowPreviewProbe(Probe& probe);
void historyRowFilePreviewProbe(Probe& probe);
void historyRowBodySelectProbe(Probe& probe);
void historyRowBodyMousedownSelectProbe(Probe& probe);
void historyScrollFallbackBodySelectProbe(Probe& probe);
void shelfGalleryHitTestProbe(Probe& probe);

} // namespace QuillomareMac::UserInterfaceProbe
