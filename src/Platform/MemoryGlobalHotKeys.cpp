#include "GlobalHotKeys.h"

namespace Platform {

bool MemoryGlobalHotKeys::registerHotKey(quint32 id, KeyPosition key, Modifiers)
{
    calls.append(QStringLiteral("register %1").arg(id));
    if (takenByOthers.contains(key))
        return false;
    registered.insert(id);
    return true;
}

void MemoryGlobalHotKeys::unregisterHotKey(quint32 id)
{
    calls.append(QStringLiteral("unregister %1").arg(id));
    registered.remove(id);
}

void MemoryGlobalHotKeys::press(quint32 id)
{
    if (registered.contains(id))
        Q_EMIT pressed(id);
}

} // namespace Platform
