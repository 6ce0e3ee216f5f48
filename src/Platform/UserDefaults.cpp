#include "UserDefaults.h"

#include <QStandardPaths>

namespace Platform::UserDefaults {

std::unique_ptr<QSettings> standard()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return std::make_unique<QSettings>(folder + QStringLiteral("/Quillomare/Quillomare.ini"), QSettings::IniFormat);
}

bool boolValue(const QString& key)
{
    return standard()->value(key, false).toBool();
}

void setBoolValue(const QString& key, bool value)
{
    auto settings = standard();
    settings->setValue(key, value);
    settings->sync();
}

} // namespace Platform::UserDefaults
