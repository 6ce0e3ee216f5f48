#include "Updater.h"

#include <QuillomareCore/Language.h>

namespace Platform {

QString Updater::checkForUpdates() const
{
    return QuillomareCore::Language::text(QStringLiteral("Quillomare 的更新随软件包提供，请用系统的软件更新安装。"),
                                          QStringLiteral("Quillomare updates come with its package; install them "
                                                         "with your system's software updates."));
}

} // namespace Platform
