#include "AppUpdater.h"

namespace QuillomareMac {

AppUpdater& AppUpdater::shared()
{
    static AppUpdater updater;
    return updater;
}

} // namespace QuillomareMac
