// The texts that tell the user which images a save had to leave out of the history.

#include <QuillomareCore/Language.h>
#include <QuillomareCore/Notice.h>
#include <QuillomareCore/StoredImage.h>

#include <QtTest>

#include "TestSupport.h"

using namespace QuillomareCore;

class NoticeTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { Language::resetForTesting(); }

    // One image: a sentence that names it, with nothing held back for the details.
    void testOneImageIsNamedInOneSentence_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QString>("expected");
        QTest::newRow("English") << false
                                 << QStringLiteral(
                                        "The image couldn't be read from the history file: its data is damaged. "
                                        "Removed from the history: the image copied 2026-01-01 12:00:00. "
                                        "Everything else is saved");
        QTest::newRow("Chinese") << true
                                 << QStringLiteral(
                                        "无法从历史文件读取图片：图片数据已损坏。已从历史中移除：2026-01-01 12:00:00 "
                                        "复制的图片。其余内容均已保存");
    }

    void testOneImageIsNamedInOneSentence()
    {
        QFETCH(bool, chinese);
        QFETCH(QString, expected);
        Language::setIsChineseForTesting(chinese);
        const QString notice =
            Notice::removedImages({{Language::text(QStringLiteral("2026-01-01 12:00:00 复制的图片"),
                                                   QStringLiteral("the image copied 2026-01-01 12:00:00")),
                                    unreadableImageText(Language::text(QStringLiteral("图片数据已损坏"),
                                                                       QStringLiteral("its data is damaged")))}});
        QCOMPARE(notice, expected);
        QCOMPARE(Notice::headline(notice), notice);
        QCOMPARE(Notice::whole(notice), notice);
    }

    // Several images: the part of their reasons they share is said once, each other part once,
    // in the order met; a reason of another kind is kept whole. The details list every image.
    void testSeveralImagesShareTheirReasonsOnce()
    {
        Language::setIsChineseForTesting(false);
        const QString damaged = unreadableImageText(QStringLiteral("its data is damaged"));
        const QString replaced = unreadableImageText(QStringLiteral("the file holds a different image in its place"));
        const QString notice = Notice::removedImages(
            {{QStringLiteral("A"), damaged}, {QStringLiteral("B"), replaced}, {QStringLiteral("C"), damaged}});
        QCOMPARE(Notice::headline(notice),
                 QStringLiteral("3 images were removed from the history: they couldn't be read from the history file. "
                                "For each, its data is damaged, or the file holds a different image in its place. "
                                "Everything else is saved"));
        QCOMPARE(Notice::whole(notice), Notice::headline(notice) + QStringLiteral("\n\nRemoved:\nA\nB\nC"));

        const QString other = Notice::removedImages(
            {{QStringLiteral("A"), damaged}, {QStringLiteral("B"), QStringLiteral("Out of memory")}});
        QCOMPARE(Notice::headline(other),
                 QStringLiteral("2 images were removed from the history: %1; Out of memory. Everything else is saved")
                     .arg(damaged));

        Language::setIsChineseForTesting(true);
        const QString chinese = Notice::removedImages(
            {{QStringLiteral("甲"), unreadableImageText(QStringLiteral("图片数据已损坏"))},
             {QStringLiteral("乙"), unreadableImageText(QStringLiteral("文件中的图片已被替换"))}});
        QCOMPARE(Notice::whole(chinese),
                 QStringLiteral(
                     "2 张图片已从历史中移除：无法从历史文件读取这些图片（图片数据已损坏；文件中的图片已被替换）。"
                     "其余内容均已保存\n\n已移除：\n甲\n乙"));
    }
};

QUILLOMARE_TEST_MAIN(NoticeTest)
#include "tst_notice.moc"
