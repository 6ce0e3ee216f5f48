#include "TestSupport.h"

#include <Platform/Entitlements.h>
#include <Shell/CloudKitEntitlementChecker.h>

#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/Language.h>

using namespace QuillomareMac;
namespace Language = QuillomareCore::Language;
using Platform::Entitlements::iCloudContainerIdentifiersKey;
using Platform::Entitlements::iCloudServicesKey;

class TestCloudKitEntitlementChecker : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Language::setIsChineseForTesting(false); }

    void unavailableReason_data()
    {
        const QStringList containers = CloudKitEntitlementChecker::entitlementStrings(iCloudContainerIdentifiersKey);
        const QStringList services = CloudKitEntitlementChecker::entitlementStrings(iCloudServicesKey);
        const QString defaultContainer = QuillomareCore::ClipDefaults::cloudContainerIdentifier;
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QStringList>("containers");
        QTest::addColumn<QStringList>("services");
        QTest::addColumn<QString>("reason");
        // The build's own entitlements cover the default container, so sync can be switched on.
        QTest::newRow("built-in") << QStringLiteral(" %1\n").arg(defaultContainer) << containers << services
                                  << QString();
        QTest::newRow("blank identifier")
            << QStringLiteral("  ") << containers << services << QStringLiteral("Missing sync container identifier");
        QTest::newRow("no CloudKit") << defaultContainer << containers << QStringList{QStringLiteral("CloudDocuments")}
                                     << QStringLiteral("This build does not include folder sync");
        QTest::newRow("other container") << QStringLiteral(" iCloud.other ") << containers << services
                                         << QStringLiteral("This build cannot use the iCloud.other sync container");
    }

    void unavailableReason()
    {
        QFETCH(QString, identifier);
        QFETCH(QStringList, containers);
        QFETCH(QStringList, services);
        QFETCH(QString, reason);
        const auto found = CloudKitEntitlementChecker::unavailableReason(identifier, containers, services);
        QCOMPARE(found.value_or(QString()), reason);
        QCOMPARE(found.has_value(), !reason.isEmpty());
    }
};

QUILLOMARE_TEST_MAIN(TestCloudKitEntitlementChecker)
#include "tst_cloudkitentitlementchecker.moc"
