#pragma once

// Key combinations that work system-wide, whichever program has the keyboard focus.

#include <QFlags>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

namespace Platform {

class GlobalHotKeys : public QObject
{
    Q_OBJECT

public:
    // Keys by their place on the keyboard, named after what the US layout prints on them: a
    // combination stays under the same fingers whatever layout the user types with.
    enum class KeyPosition { v, s };
    enum class Modifier { control = 0x1, alt = 0x2, shift = 0x4, super = 0x8 };
    Q_DECLARE_FLAGS(Modifiers, Modifier)

    using QObject::QObject;

    // Claims the combination under `id` (ignoring Caps Lock and Num Lock); false when another
    // program holds it or anything else failed, and then nothing of it stays claimed.
    virtual bool registerHotKey(quint32 id, KeyPosition key, Modifiers modifiers) = 0;
    // Gives the combination back; nothing happens for an id that is not registered.
    virtual void unregisterHotKey(quint32 id) = 0;

Q_SIGNALS:
    // Once for each press of a registered combination: holding it down does not repeat it.
    void pressed(quint32 id);
};

Q_DECLARE_OPERATORS_FOR_FLAGS(GlobalHotKeys::Modifiers)

// Claims what a test lets it claim and records what was asked; `press` stands in for the user.
class MemoryGlobalHotKeys final : public GlobalHotKeys
{
    Q_OBJECT

public:
    using GlobalHotKeys::GlobalHotKeys;

    bool registerHotKey(quint32 id, KeyPosition key, Modifiers modifiers) override;
    void unregisterHotKey(quint32 id) override;
    // Emits pressed(id) when the id is registered.
    void press(quint32 id);

    QSet<KeyPosition> takenByOthers;
    QSet<quint32> registered;
    QStringList calls; // "register <id>", "unregister <id>"
};

} // namespace Platform
